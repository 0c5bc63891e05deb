*> Opening and closing: every open mode, missing files, OPTIONAL files, verbs in the
*> wrong open mode, files not open.
IDENTIFICATION DIVISION.
PROGRAM-ID. open_modes.
ENVIRONMENT DIVISION.
INPUT-OUTPUT SECTION.
FILE-CONTROL.
    SELECT ITEMS ASSIGN TO "items"
        ORGANIZATION IS INDEXED ACCESS MODE IS DYNAMIC
        RECORD KEY IS IT-KEY
        ALTERNATE RECORD KEY IS IT-NAME WITH DUPLICATES
        FILE STATUS IS FS.
    SELECT MISSING ASSIGN TO "missing"
        ORGANIZATION IS INDEXED ACCESS MODE IS DYNAMIC
        RECORD KEY IS MS-KEY FILE STATUS IS FS.
    SELECT OPTIONAL MAYBE ASSIGN TO "maybe"
        ORGANIZATION IS INDEXED ACCESS MODE IS DYNAMIC
        RECORD KEY IS MB-KEY FILE STATUS IS FS.
DATA DIVISION.
FILE SECTION.
FD ITEMS.
01 IT-REC.
   05 IT-KEY  PIC X(6).
   05 IT-NAME PIC X(10).
   05 IT-QTY  PIC 9(4).
FD MISSING.
01 MS-REC.
   05 MS-KEY  PIC X(4).
   05 MS-DATA PIC X(8).
FD MAYBE.
01 MB-REC.
   05 MB-KEY  PIC X(4).
   05 MB-DATA PIC X(8).
WORKING-STORAGE SECTION.
01 FS  PIC XX.
01 N   PIC 99.
01 TAG PIC X.
PROCEDURE DIVISION.
    OPEN INPUT MISSING  DISPLAY "open input missing " FS
    OPEN I-O MISSING    DISPLAY "open i-o missing " FS
    OPEN EXTEND MISSING DISPLAY "open extend missing " FS
    READ MISSING NEXT   DISPLAY "read not open " FS
    WRITE MS-REC        DISPLAY "write not open " FS
    CLOSE MISSING       DISPLAY "close not open " FS

    OPEN INPUT MAYBE    DISPLAY "open input optional missing " FS
    READ MAYBE NEXT     DISPLAY "read optional missing " FS
    MOVE "K001" TO MB-KEY
    READ MAYBE          DISPLAY "random read optional missing " FS
    CLOSE MAYBE         DISPLAY "close " FS
    OPEN I-O MAYBE      DISPLAY "open i-o optional missing " FS
    MOVE "K001first" TO MB-REC
    WRITE MB-REC        DISPLAY "write " FS
    CLOSE MAYBE         DISPLAY "close " FS
    OPEN INPUT MAYBE    DISPLAY "open input optional present " FS
    READ MAYBE NEXT     DISPLAY "read " FS " " MB-REC
    CLOSE MAYBE

    OPEN OUTPUT ITEMS   DISPLAY "open output " FS
    OPEN INPUT ITEMS    DISPLAY "open again " FS
    PERFORM VARYING N FROM 1 BY 1 UNTIL N > 5
        MOVE SPACES TO IT-REC
        STRING "ITEM" N DELIMITED BY SIZE INTO IT-KEY
        MOVE "widget" TO IT-NAME
        MOVE N TO IT-QTY
        WRITE IT-REC
        DISPLAY "write " IT-KEY " " FS
    END-PERFORM
    READ ITEMS NEXT     DISPLAY "read in output " FS
    MOVE "ITEM01" TO IT-KEY
    READ ITEMS          DISPLAY "random read in output " FS
    START ITEMS KEY >= IT-KEY DISPLAY "start in output " FS
    REWRITE IT-REC      DISPLAY "rewrite in output " FS
    DELETE ITEMS        DISPLAY "delete in output " FS
    CLOSE ITEMS         DISPLAY "close " FS
    CLOSE ITEMS         DISPLAY "close again " FS

    OPEN INPUT ITEMS    DISPLAY "open input " FS
    MOVE "ITEM09extra     0009" TO IT-REC
    WRITE IT-REC        DISPLAY "write in input " FS
    REWRITE IT-REC      DISPLAY "rewrite in input " FS
    DELETE ITEMS        DISPLAY "delete in input " FS
    READ ITEMS NEXT     DISPLAY "read in input " FS " " IT-REC
    CLOSE ITEMS

    OPEN EXTEND ITEMS   DISPLAY "open extend " FS
    MOVE "ITEM07extra     0007" TO IT-REC
    WRITE IT-REC        DISPLAY "write in extend " FS
    MOVE "ITEM06extra     0006" TO IT-REC
    WRITE IT-REC        DISPLAY "write in extend " FS
    READ ITEMS NEXT     DISPLAY "read in extend " FS
    MOVE "ITEM02" TO IT-KEY
    READ ITEMS          DISPLAY "random read in extend " FS
    REWRITE IT-REC      DISPLAY "rewrite in extend " FS
    DELETE ITEMS        DISPLAY "delete in extend " FS
    CLOSE ITEMS

    OPEN I-O ITEMS      DISPLAY "open i-o " FS
    MOVE "L" TO TAG PERFORM LIST-ITEMS
    CLOSE ITEMS

    OPEN OUTPUT ITEMS   DISPLAY "open output replaces " FS
    MOVE "ITEM42only      0042" TO IT-REC
    WRITE IT-REC        DISPLAY "write " FS
    CLOSE ITEMS
    OPEN INPUT ITEMS
    MOVE "R" TO TAG PERFORM LIST-ITEMS
    CLOSE ITEMS
    STOP RUN.

*> Every record from here on, in lines "TAG items|record|", and the status that ended them.
LIST-ITEMS.
    PERFORM UNTIL FS NOT = "00"
        READ ITEMS NEXT
        IF FS = "00" DISPLAY TAG " items|" IT-REC "|" END-IF
    END-PERFORM
    DISPLAY "end " FS.
