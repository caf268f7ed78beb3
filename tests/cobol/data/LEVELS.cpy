      * Irregular level numbers, larger REDEFINES, several records and
      * a 77, debugging lines, tabs and a word continued on a new line.
       01  LEVEL-REC.
           05  LV-A.
               10  LV-B            PIC X.
             07  LV-C              PIC XX.
           05  LV-D                PIC X.
           05  LV-E                PIC X(2).
           05  LV-F REDEFINES LV-E PIC X(5).
           05  LV-G REDEFINES LV-E.
               10  LV-G1           PIC X(3).
           05  LV-H                PIC X.
      D    05  LV-DEBUG            PIC X(99).
           05  LV-I.
               10  LV-I1           PIC X(4).
               10  LV-I2 REDEFINES LV-I1 PIC S9(9) COMP-5.
           05  LV-J.
	       10  LV-J1	   PIC X(3).
           10  LV-J2               PIC 9(3).
           05  LV-LONG-NAME-CONT
      -        INUED               PIC X(2).
       01  SECOND-REC.
           03  SR-1                PIC X.
           03  SR-2.
               05  SR-3            PIC X.
               05  SR-4            PIC X.
             04  SR-5              PIC X.
       01  THIRD-REC REDEFINES SECOND-REC PIC X(20).
       77  LONE-ITEM               PIC S9(5)V99 COMP-3.
       77  LONE-COUNT              PIC S9(8) BINARY VALUE ZERO.
       01  MULTI-REDEF.
           05  MR-E                PIC X(2).
           05  MR-F REDEFINES MR-E PIC X(3).
           05  MR-G REDEFINES MR-E PIC X(6).
           05  MR-H                PIC X.
