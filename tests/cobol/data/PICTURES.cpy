      * Every kind of PICTURE and usage: editing, floating insertion,
      * trailing signs, scaling, national, group usage.
       01  PICTURE-REC.
           05  PC-S1               PIC S9(5) SIGN LEADING SEPARATE.
           05  PC-S2               PIC S9(5) SIGN IS TRAILING SEPARATE
                                   CHARACTER.
           05  PC-S3               PIC S9(5) SIGN LEADING.
           05  PC-N1               PIC N(3).
           05  PC-N2               PIC N(3) USAGE NATIONAL.
           05  PC-E1               PIC ZZ,ZZ9.99-.
           05  PC-E2               PIC $$$,$$9.99CR.
           05  PC-E3               PIC --,--9.
           05  PC-E4               PIC 9(5)+.
           05  PC-E5               PIC 99/99/99.
           05  PC-E6               PIC XXBXX.
           05  PC-E7               PIC A(5).
           05  PC-E8               PIC 9(3)PPP.
           05  PC-E9               PIC PPP99.
           05  PC-EB               PIC **,**9.99DB.
           05  PC-EC               PIC +9(10).99.
           05  PC-ED               PIC V99.
           05  PC-EE               PIC VP99.
           05  PC-GC USAGE COMP.
               10  PC-GC1          PIC S9(3).
               10  PC-GC2          PIC 9(7).
               10  PC-GC3          PIC 9(12).
           05  PC-GP USAGE IS PACKED-DECIMAL.
               10  PC-GP1          PIC S9(4).
               10  PC-GP2          PIC 9(9)V99.
           05  PC-P1               PIC 9(3)V99 USAGE COMP-3.
           05  PC-F1               COMP-1.
           05  PC-F2               USAGE COMPUTATIONAL-2.
           05  PC-X1               PIC 9(4) COMP-X.
           05  PC-X2               PIC 9(9) COMP-X.
           05  PC-X3               PIC X(3) COMP-X.
           05  PC-I                INDEX.
           05  PC-BS               BINARY-SHORT SIGNED.
           05  PC-BD               BINARY-DOUBLE.
           05  PC-J                PIC X(5) JUST RIGHT.
           05  PC-Z                PIC 9(5) BLANK WHEN ZERO.
           05  PC-C5               PIC S9(9) COMP-5.
           05  PC-C8               PIC S9(12) COMPUTATIONAL-5.
           05  PC-FE1              PIC +9.99E+99.
           05  PC-FE2              PIC +.999E+99.
