      * SYNC slack bytes inside table occurrences: the padding of an
      * occurrence goes in front of its last elementary item.
       01  SLACK-TABLES.
           05  SL-D                PIC X(3).
           05  SL-T OCCURS 2.
               10  SL-T1           PIC X.
               10  SL-T2           PIC S9(9) COMP SYNC.
               10  SL-T3           PIC X.
           05  SL-U                PIC X.
           05  SL-V OCCURS 2.
               10  SL-V1           PIC S9(4) COMP SYNC.
               10  SL-V2           PIC X.
           05  SL-X                PIC X.
           05  SL-Y OCCURS 2.
               10  SL-Y0           PIC X.
               10  SL-Y1           PIC S9(9) COMP SYNC.
               10  SL-Y2           PIC S9(4) COMP SYNC.
               10  SL-Y3           PIC X.
           05  SL-H OCCURS 3.
               10  SL-H1           PIC X.
               10  SL-H2           PIC S9(18) COMP SYNC.
           05  SL-K OCCURS 3.
               10  SL-K1           PIC X.
               10  SL-K2           PIC S9(9) COMP SYNC.
           05  SL-G OCCURS 2.
               10  SL-G1           PIC X.
               10  SL-GG.
                   15  SL-G2       PIC S9(9) COMP SYNC.
                   15  SL-G3       PIC X.
               10  SL-G4           PIC X(2).
           05  SL-A                PIC S9(4) COMP SYNC OCCURS 3.
           05  SL-N OCCURS 2.
               10  SL-N1           PIC X.
               10  SL-NN OCCURS 2.
                   15  SL-N2       PIC S9(9) COMP SYNC.
                   15  SL-N3       PIC X.
               10  SL-N4           PIC X.
           05  SL-Q.
               10  SL-Q1           PIC X.
               10  SL-Q2           PIC S9(18) COMP SYNC.
               10  SL-Q3           PIC X.
           05  SL-GS SYNC.
               10  SL-GS0          PIC X.
               10  SL-GS1          PIC S9(4) COMP.
           05  SL-P                POINTER SYNC.
           05  SL-PP               PROCEDURE-POINTER.
           05  SL-F                FLOAT-SHORT SYNC.
           05  SL-B                BINARY-LONG SYNC.
           05  SL-C                BINARY-CHAR UNSIGNED.
