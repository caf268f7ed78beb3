       01  R.
           05  A PIC X(3) OCCURS 2.
           05  B PIC 9(2).
