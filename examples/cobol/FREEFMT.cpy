       >>SOURCE FORMAT FREE
*> A free-format copybook: text from column 1, no sequence area.
01 FREE-FORMAT-REC.
  05 FF-ID PIC X(12). *> the key
  05 FF-AMOUNT PIC S9(9)V99 COMP-3 VALUE +0.
  05 FF-TEXT PIC X(30) VALUE "a free-format literal with a period. inside".
  05 FF-CODES OCCURS 4 TIMES PIC X(2).
  05 FF-EDITED PIC $$$,$$9.99CR.
