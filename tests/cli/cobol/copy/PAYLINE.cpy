      * One line of a payment: copied with REPLACING ==:P:== BY ==xx==.
               10  :P:-ITEM         PIC X(4).
               10  :P:-QTY          PIC S9(3) COMP-3.
               10  :P:-PRICE        PIC S9(5)V99 SIGN TRAILING SEPARATE.
