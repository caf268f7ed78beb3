       01  BAD-REC.
           05  BAD-CODE             PIC X(4).
           05  BAD-AMOUNT           PIC 9(5)Q.
