       01  FLAGS-REC.
           05  FLAG-BITS            PIC 9(3) COMP-X.
