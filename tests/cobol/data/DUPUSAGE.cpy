      * Entries that repeat their USAGE clause: the last usage counts.
       01 DUP-REC.
          05 DUP-A           PIC 9(5) COMP COMP-5.
          05 DUP-B           PIC 9(5) COMP-3 COMP.
          05 DUP-C           PIC 9(5) COMP-5 COMP-3.
          05 DUP-D           PIC 9(3) USAGE COMP
                             USAGE IS COMP-3.
          05 DUP-E           PIC S9(7) COMP-3 BINARY.
          05 DUP-F           PIC S9(9) BINARY PACKED-DECIMAL.
          05 DUP-G           PIC X(4).
