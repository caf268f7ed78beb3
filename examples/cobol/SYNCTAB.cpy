      * Synchronized binary, floating, index and pointer items: slack
      * bytes before each one, and inside every occurrence of a table.
       01  SYNC-TABLE-REC.
           05  ST-TYPE                 PIC X.
           05  ST-COUNT                PIC S9(4) COMP SYNC.
           05  ST-CODE                 PIC X(3).
           05  ST-TOTAL                PIC S9(9) BINARY SYNCHRONIZED.
           05  ST-RATE                 COMP-2 SYNC.
           05  ST-FLAG                 PIC X.
           05  ST-POS                  USAGE INDEX SYNC.
           05  ST-ENTRY OCCURS 3 TIMES.
               10  ST-KEY              PIC X.
               10  ST-AMOUNT           PIC S9(9) COMP-5 SYNC.
               10  ST-MARK             PIC X.
           05  ST-AFTER                PIC X(2).
           05  ST-NESTED OCCURS 2 TIMES INDEXED BY ST-IX.
               10  ST-NAME             PIC X(3).
               10  ST-PAIR OCCURS 2 TIMES.
                   15  ST-HALF         PIC S9(4) COMP SYNC.
                   15  ST-LETTER       PIC X.
               10  ST-END              PIC X.
           05  ST-PACKED               PIC S9(5) COMP-3 SYNC.
           05  ST-FLOAT                COMP-1 SYNC.
