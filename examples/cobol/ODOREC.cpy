      * A variable-length record: the table is laid out for its largest
      * count, and the fields after it keep their places.
       01  ORDER-HEADER.
           05  OH-ORDER-NO             PIC 9(08).
           05  OH-LINE-COUNT           PIC 9(02) COMP-3.
           05  OH-LINES OCCURS 1 TO 12 TIMES
                        DEPENDING ON OH-LINE-COUNT
                        ASCENDING KEY IS OL-ITEM-NO
                        INDEXED BY OL-IX.
               10  OL-ITEM-NO          PIC 9(06).
               10  OL-QUANTITY         PIC S9(05) COMP-3.
               10  OL-PRICE            PIC S9(07)V99 COMP-3.
           05  OH-TRAILER              PIC X(10).
