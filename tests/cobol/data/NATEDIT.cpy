      * National-edited pictures (two bytes per N, one per B 0 /) and
      * the floating-point pictures GnuCOBOL accepts ('+' after the E).
       01  NATEDIT-REC.
           05  NE-N1               PIC N(3)B.
           05  NE-N2               PIC N(2)BN.
           05  NE-N3               PIC N0N.
           05  NE-N4               PIC N/N.
           05  NE-N5               PIC N(3)B USAGE NATIONAL.
           05  NE-N6               PIC NN/N0NBN.
           05  NE-N7               PIC N(4).
           05  NE-F1               PIC +99.99E+99.
           05  NE-F2               PIC +9.9(4)E+99.
           05  NE-F3               PIC -9999E+99.
           05  NE-F4               PIC +.9(6)E+99.
           05  NE-TAB OCCURS 2.
               10  NE-T1           PIC N(2)B.
               10  NE-T2           PIC X.
           05  NE-END              PIC X.
