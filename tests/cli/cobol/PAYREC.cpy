      * Payment record for the command-line tests of the COBOL rules:
      * condition names over several lines, a separate sign, SYNC with
      * slack bytes, a table depending on a count, a COPY member with
      * REPLACING, a continued literal and a RENAMES range.
       01  PAY-REC.
           05  PAY-KIND             PIC X.
               88  PAY-CASH         VALUE 'C'.
               88  PAY-CARD         VALUES ARE 'V' 'M'
                                               'A' 'D'.
               88  PAY-OTHER        VALUE 'E' THRU 'L'.
           05  PAY-AMOUNT           PIC S9(7)V99
                                    SIGN IS LEADING SEPARATE CHARACTER.
           05  PAY-FLAG             PIC XX.
           05  PAY-SEQ              PIC S9(9) COMP SYNC.
           05  PAY-NOTE             PIC X(30) VALUE 'A NOTE THAT GOES ON TO THE
      -    'NEXT LINE'.
           05  PAY-LINE-COUNT       PIC 9(2).
           05  PAY-LINES OCCURS 1 TO 3 TIMES
                                    DEPENDING ON PAY-LINE-COUNT.
               COPY PAYLINE REPLACING ==:P:== BY ==PL==.
           66  PAY-HEAD RENAMES PAY-KIND THRU PAY-FLAG.
