      * SYNC slack bytes of table occurrences holding subgroups and
      * REDEFINES. An occurrence is padded to the alignment its items
      * leave behind: a subgroup sets it to its own, a SYNC item raises
      * it, a REDEFINES item leaves it; the padding goes in front of the
      * last elementary item, whose groups stay where they are.
       01  PAD-SUB.
           05  PS-T OCCURS 2.
               10  PS-F            COMP-2 SYNC.
               10  PS-G.
                   15  PS-H        PIC 9(4) COMP SYNC.
               10  PS-I            PIC X.
       01  PAD-PLAIN-SUB.
           05  PP-T OCCURS 2.
               10  PP-A            PIC X(2).
               10  PP-F            PIC 9(9) COMP SYNC.
               10  PP-G.
                   15  PP-H        PIC X.
       01  PAD-INNER-LAST.
           05  PI-T OCCURS 2.
               10  PI-G.
                   15  PI-H1       COMP-2 SYNC.
                   15  PI-H2.
                       20  PI-H3   PIC X.
               10  PI-I            PIC X.
       01  PAD-RAISED.
           05  PR-T OCCURS 2.
               10  PR-F            COMP-2 SYNC.
               10  PR-P            PIC 9(4) COMP SYNC.
               10  PR-X            PIC X.
       01  PAD-REDEF-ITEM.
           05  RI-T OCCURS 2.
               15  RI-A            PIC X(3).
               15  RI-B REDEFINES RI-A PIC 9(9) COMP SYNC.
               15  RI-C            PIC X(2).
       01  PAD-REDEF-LAST.
           05  RL-T OCCURS 2.
               10  RL-F            PIC 9(9) COMP SYNC.
               10  RL-A            PIC X.
               10  RL-B REDEFINES RL-A PIC X.
       01  PAD-REDEF-GROUP.
           05  RG-X                PIC X.
           05  RG-T OCCURS 2.
               15  RG-A            PIC X(2).
               15  RG-B REDEFINES RG-A.
                   20  RG-C        PIC 9(9) COMP SYNC.
       01  PAD-REDEF-PLAIN.
           05  RP-T OCCURS 2.
               10  RP-F            COMP-2 SYNC.
               10  RP-A            PIC X(4).
               10  RP-B REDEFINES RP-A.
                   15  RP-B1       PIC 9(4) COMP SYNC.
           05  RP-U OCCURS 2.
               10  RP-F2           PIC 9(9) COMP SYNC.
               10  RP-A2           PIC X.
               10  RP-B2 REDEFINES RP-A2.
                   15  RP-B3       PIC X.
       01  PAD-GROUP-START.
           05  GS-A                PIC X.
           05  GS-T OCCURS 2.
               15  GS-G.
                   20  GS-B        PIC S9(4) BINARY SYNC.
       01  PAD-NESTED.
           05  PN-T OCCURS 2.
               10  PN-X            PIC X.
               10  PN-N OCCURS 3.
                   15  PN-H        PIC 9(4) COMP SYNC.
           05  PN-Z                PIC X.
       01  PAD-DEPENDING.
           05  PD-N                PIC 9(2).
           05  PD-X                PIC X.
           05  PD-T OCCURS 1 TO 3 DEPENDING ON PD-N.
               10  PD-F            PIC 9(9) COMP SYNC.
               10  PD-G.
                   15  PD-H        PIC S9(4) COMP SYNC.
                   15  PD-I        PIC X.
               10  PD-J            PIC X(3).
