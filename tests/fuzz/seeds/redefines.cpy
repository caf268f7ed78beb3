       01  R.
           05  G OCCURS 2.
               10  A PIC X(2).
               10  B REDEFINES A PIC 9(2).
           05  C PIC X(6).
           05  D REDEFINES C.
               10  D1 PIC X(2).
           05  E PIC X(4).
           05  F REDEFINES E PIC X OCCURS 4.
