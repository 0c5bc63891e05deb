*> Random and dynamic access: WRITE in any key order (22 for a duplicate primary or unique
*> alternate key, 02 for a duplicate where duplicates are allowed), READ by each key (23 not
*> found), REWRITE and DELETE by key (23 not found, 22, 02), and READ NEXT / PREVIOUS going
*> on from where the last READ left the file.
IDENTIFICATION DIVISION.
PROGRAM-ID. random_access.
ENVIRONMENT DIVISION.
INPUT-OUTPUT SECTION.
FILE-CONTROL.
    SELECT PEOPLE ASSIGN TO "people"
        ORGANIZATION IS INDEXED ACCESS MODE IS DYNAMIC
        RECORD KEY IS PP-ID
        ALTERNATE RECORD KEY IS PP-EMAIL
        ALTERNATE RECORD KEY IS PP-CITY WITH DUPLICATES
        FILE STATUS IS FS.
DATA DIVISION.
FILE SECTION.
FD PEOPLE.
01 PP-REC.
   05 PP-ID    PIC 9(5).
   05 PP-EMAIL PIC X(12).
   05 PP-CITY  PIC X(6).
   05 PP-NAME  PIC X(10).
WORKING-STORAGE SECTION.
01 FS PIC XX.
01 I  PIC 99.
01 ROWS.
   05 FILLER PIC X(33) VALUE "00042ann@x.org   Lyon  Ann       ".
   05 FILLER PIC X(33) VALUE "00007bob@x.org   Paris Bob       ".
   05 FILLER PIC X(33) VALUE "00099cy@x.org    Lyon  Cy        ".
   05 FILLER PIC X(33) VALUE "00007dup@x.org   Nice  Dupe      ".
   05 FILLER PIC X(33) VALUE "00013ann@x.org   Nice  Anne      ".
   05 FILLER PIC X(33) VALUE "00013dee@x.org   Nice  Dee       ".
   05 FILLER PIC X(33) VALUE "00001eve@x.org   Lyon  Eve       ".
   05 FILLER PIC X(33) VALUE "00050fay@x.org   Paris Fay       ".
01 ROW-TABLE REDEFINES ROWS.
   05 ROW PIC X(33) OCCURS 8.
PROCEDURE DIVISION.
    OPEN OUTPUT PEOPLE
    PERFORM VARYING I FROM 1 BY 1 UNTIL I > 8
        MOVE ROW(I) TO PP-REC WRITE PP-REC
        DISPLAY "write " PP-ID " " FS
    END-PERFORM
    CLOSE PEOPLE

    OPEN I-O PEOPLE
    MOVE "00099" TO PP-ID READ PEOPLE DISPLAY "read 99 " FS " " PP-REC
    MOVE "00098" TO PP-ID READ PEOPLE DISPLAY "read 98 " FS
    MOVE "bob@x.org" TO PP-EMAIL READ PEOPLE KEY IS PP-EMAIL
    DISPLAY "read bob " FS " " PP-REC
    READ PEOPLE NEXT DISPLAY "next " FS " " PP-REC
    MOVE "zed@x.org" TO PP-EMAIL READ PEOPLE KEY IS PP-EMAIL
    DISPLAY "read zed " FS
    READ PEOPLE NEXT DISPLAY "next " FS " " PP-REC
    MOVE "Lyon" TO PP-CITY READ PEOPLE KEY IS PP-CITY
    DISPLAY "read Lyon " FS " " PP-REC
    PERFORM 4 TIMES READ PEOPLE NEXT DISPLAY "next " FS " " PP-REC END-PERFORM
    READ PEOPLE PREVIOUS DISPLAY "previous " FS " " PP-REC
    READ PEOPLE PREVIOUS DISPLAY "previous " FS " " PP-REC

    MOVE "00007bob@x.org   Lyon  Robert    " TO PP-REC
    REWRITE PP-REC DISPLAY "rewrite 7 to Lyon " FS
    MOVE "00007eve@x.org   Lyon  Robert    " TO PP-REC
    REWRITE PP-REC DISPLAY "rewrite 7 with eve's email " FS
    MOVE "00008hal@x.org   Lyon  Hal       " TO PP-REC
    REWRITE PP-REC DISPLAY "rewrite 8 " FS
    MOVE "00050fay@x.org   Rome  Fay       " TO PP-REC
    REWRITE PP-REC DISPLAY "rewrite 50 to Rome " FS
    MOVE "00099" TO PP-ID DELETE PEOPLE DISPLAY "delete 99 " FS
    MOVE "00099" TO PP-ID DELETE PEOPLE DISPLAY "delete 99 again " FS
    MOVE "00099" TO PP-ID READ PEOPLE DISPLAY "read 99 " FS
    MOVE "00060gil@x.org   Lyon  Gil       " TO PP-REC
    WRITE PP-REC DISPLAY "write 60 " FS
    MOVE "00061ann@x.org   Oslo  Ann2      " TO PP-REC
    WRITE PP-REC DISPLAY "write 61 " FS

    MOVE "00001" TO PP-ID READ PEOPLE DISPLAY "read 1 " FS
    MOVE "00007" TO PP-ID DELETE PEOPLE DISPLAY "delete 7 " FS
    READ PEOPLE NEXT DISPLAY "next after delete " FS " " PP-REC
    MOVE "00002tom@x.org   Oslo  Tom       " TO PP-REC
    WRITE PP-REC DISPLAY "write 2 " FS
    READ PEOPLE NEXT DISPLAY "next after write " FS " " PP-REC
    READ PEOPLE PREVIOUS DISPLAY "previous " FS " " PP-REC
    READ PEOPLE PREVIOUS DISPLAY "previous " FS " " PP-REC
    CLOSE PEOPLE

    OPEN INPUT PEOPLE
    MOVE "Lyon" TO PP-CITY START PEOPLE KEY >= PP-CITY
    PERFORM UNTIL FS NOT = "00"
        READ PEOPLE NEXT
        IF FS = "00" DISPLAY "by city " PP-REC END-IF
    END-PERFORM
    START PEOPLE FIRST
    PERFORM UNTIL FS NOT = "00"
        READ PEOPLE NEXT
        IF FS = "00" DISPLAY "R people|" PP-REC "|" END-IF
    END-PERFORM
    CLOSE PEOPLE
    STOP RUN.
