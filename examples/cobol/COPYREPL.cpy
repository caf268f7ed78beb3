      * Two copies of one address block, told apart by REPLACING.
       01  SHIPMENT-REC.
           05  SH-ID                   PIC X(10).
           05  SH-FROM.
               COPY ADDRESS OF COPYLIB
                    REPLACING ==:PFX:== BY ==FROM==
                              ==ADDR-LEN== BY ==30==
                              LEADING ==WK-== BY ==FR-==.
           05  SH-TO.
               COPY ADDRESS IN COPYLIB
                    REPLACING ==:PFX:== BY ==TO==
                              ==X(ADDR-LEN)== BY ==X(40)==
                              WK-COUNTRY BY TO-COUNTRY.
           05  SH-WEIGHT               PIC 9(5)V9(3) COMP-3.
