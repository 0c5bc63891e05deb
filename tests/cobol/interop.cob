*> Reads and changes a Kelvra file that ixkit made (-gen) and loaded (-load): "list" shows
*> every record by the primary key and by the alternate key, "update" writes, rewrites and
*> deletes records. Run by run-interop, not by run-program.
IDENTIFICATION DIVISION.
PROGRAM-ID. interop.
ENVIRONMENT DIVISION.
INPUT-OUTPUT SECTION.
FILE-CONTROL.
    SELECT PARTS ASSIGN TO "parts"
        ORGANIZATION IS INDEXED ACCESS MODE IS DYNAMIC
        RECORD KEY IS PT-CODE
        ALTERNATE RECORD KEY IS PT-MAKER WITH DUPLICATES
        FILE STATUS IS FS.
DATA DIVISION.
FILE SECTION.
FD PARTS.
01 PT-REC.
   05 PT-CODE  PIC X(6).
   05 PT-MAKER PIC X(8).
   05 PT-NAME  PIC X(16).
WORKING-STORAGE SECTION.
01 FS     PIC XX.
01 ACTION PIC X(10).
PROCEDURE DIVISION.
    ACCEPT ACTION FROM COMMAND-LINE
    IF ACTION = "list"
        OPEN INPUT PARTS DISPLAY "open input " FS
        PERFORM UNTIL FS NOT = "00"
            READ PARTS NEXT
            IF FS = "00" DISPLAY "by code  " PT-REC END-IF
        END-PERFORM
        MOVE LOW-VALUES TO PT-MAKER START PARTS KEY >= PT-MAKER
        PERFORM UNTIL FS NOT = "00" AND FS NOT = "02"
            READ PARTS NEXT
            IF FS = "00" OR FS = "02" DISPLAY "by maker " PT-REC END-IF
        END-PERFORM
    ELSE
        OPEN I-O PARTS DISPLAY "open i-o " FS
        MOVE "P00004Bolton  hinge, brass    " TO PT-REC
        WRITE PT-REC DISPLAY "write P00004 " FS
        MOVE "P00001Acme    again           " TO PT-REC
        WRITE PT-REC DISPLAY "write P00001 " FS
        MOVE "P00002" TO PT-CODE READ PARTS DISPLAY "read P00002 " FS
        MOVE "Zenith" TO PT-MAKER REWRITE PT-REC DISPLAY "rewrite P00002 " FS
        MOVE "P00003" TO PT-CODE DELETE PARTS DISPLAY "delete P00003 " FS
    END-IF
    CLOSE PARTS DISPLAY "close " FS
    STOP RUN.
