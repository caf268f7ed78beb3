      * An address block meant to be copied with REPLACING: its names
      * carry the placeholder :PFX:, and its length the word ADDR-LEN.
           10  :PFX:-STREET            PIC X(ADDR-LEN).
           10  :PFX:-CITY              PIC X(20).
           10  :PFX:-ZIP               PIC 9(05).
           10  WK-COUNTRY              PIC X(02).
