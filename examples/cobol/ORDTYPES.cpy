      * An orders file of three record types: a header, its lines and
      * a trailer, told apart by the first byte (ORD-TYPE).
       01  ORD-HEADER.
           05  ORD-TYPE        PIC X.
           05  ORD-NO          PIC 9(6).
           05  ORD-DATE        PIC 9(8).
           05  ORD-CUSTOMER    PIC X(20).
       01  ORD-LINE.
           05  LINE-TYPE       PIC X.
           05  LINE-ITEM       PIC X(8).
           05  LINE-QTY        PIC S9(5) COMP-3.
           05  LINE-PRICE      PIC S9(7)V99 COMP-3.
       01  ORD-TRAILER.
           05  TRL-TYPE        PIC X.
           05  TRL-LINES       PIC 9(4) COMP.
           05  TRL-TOTAL       PIC S9(11)V99 COMP-3.
