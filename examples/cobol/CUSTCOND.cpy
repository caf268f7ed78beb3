000100* Customer status record: condition names over several lines,
000200* a literal continued on the next line, a leading separate sign
000300* and a RENAMES over a range of fields.
000400 01  CUST-STATUS-REC.
000500     05  CS-CUST-ID              PIC X(08).
000600     05  CS-STATUS               PIC X(02) VALUE SPACES.
000700         88  CS-ACTIVE           VALUES 'AC' 'AN'
000800                                        'AR'.
000900         88  CS-CLOSED           VALUE 'CL' THRU 'CZ'.
001000         88  CS-KNOWN            VALUES ARE 'AC', 'AN', 'AR',
001100                                            'CL', 'CZ'.
001200     05  CS-BALANCE              PIC S9(07)V99
001300                         SIGN IS LEADING SEPARATE.
001400     05  CS-CREDIT-LIMIT         PIC S9(05)
001450                         SIGN TRAILING SEPARATE.
001500     05  CS-NOTE           PIC X(60) VALUE 'THIS CUSTOMER HAS     
001550-    'A NOTE WRITTEN OVER TWO LINES.'.
001560     05  CS-WORD                 PIC X(10) VALUE SPA
001570-    CES.
001700     05  CS-LAST-ORDER.
001800         10  CS-ORDER-YY         PIC 9(04).
001900         10  CS-ORDER-MM         PIC 9(02).
002000             88  CS-VALID-MONTH  VALUE 1 THRU 12.
002100         10  CS-ORDER-DD         PIC 9(02).
002200     05  CS-FLAGS                PIC X(03).
002300 66  CS-ORDER-DATE RENAMES CS-ORDER-YY THRU CS-ORDER-DD.
002400 66  CS-MONEY      RENAMES CS-BALANCE THROUGH CS-CREDIT-LIMIT.

