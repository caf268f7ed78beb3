           05  :P:-A  PIC X(2).
           05  XB PIC S9(3) SIGN LEADING SEPARATE.
           66  R2 RENAMES :P:-A THRU XB.
