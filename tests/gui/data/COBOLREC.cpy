      * A record as a COBOL program writes it: the default analysis refuses
      * its condition names, the COBOL rules lay it out.
       01  ORDER-REC.
           05  ORDER-STATUS         PIC X.
               88  ORDER-OPEN       VALUE 'O'.
               88  ORDER-DONE       VALUES ARE 'D' 'C'.
           05  ORDER-AMOUNT         PIC S9(5)V99 SIGN LEADING SEPARATE.
           05  ORDER-LINES          PIC 9(2).
           05  ORDER-LINE OCCURS 1 TO 5 TIMES DEPENDING ON ORDER-LINES.
               10  LINE-ITEM        PIC X(6).
           66  ORDER-HEAD RENAMES ORDER-STATUS THRU ORDER-AMOUNT.
