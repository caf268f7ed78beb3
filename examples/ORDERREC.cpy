000100*================================================================
000200* ORDERREC  受注レコード
000300*   受注ヘッダ + 明細 5 行 (明細ごとに分納 3 回まで)
000400*   レコード長 : 357 バイト固定
000500*================================================================
000600 01  ORDER-REC.
000700     05  ORD-HEADER.
000800         10  ORD-NO              PIC X(10).     *> 受注番号
000900         10  ORD-DATE            PIC 9(08).     *> 受注日
001000         10  ORD-DATE-R          REDEFINES ORD-DATE.
001100             15  ORD-DATE-YYYY   PIC 9(04).
001200             15  ORD-DATE-MM     PIC 9(02).
001300             15  ORD-DATE-DD     PIC 9(02).
001400         10  ORD-CUST-NO         PIC 9(07).     *> 顧客番号
001500         10  ORD-STATUS-FLAGS    PIC X(04).     *> 状態フラグ 4 桁
001600         10  ORD-STATUS-FLAG     REDEFINES ORD-STATUS-FLAGS
001700                                 PIC X(01) OCCURS 4.
001800         10  ORD-LINE-COUNT      PIC 9(02)      COMP.
001900*    --- 受注明細 ---
002000     05  ORD-LINE                OCCURS 5 TIMES
002100                                 INDEXED BY ORD-LINE-IX.
002200         10  ORD-ITEM-CD         PIC X(08).     *> 商品コード
002300         10  ORD-QTY             PIC S9(05)     COMP-3.
002400         10  ORD-UNIT-PRICE      PIC S9(07)V99  COMP-3.
002500*        分納予定 (日付 0 は未定)
002600         10  ORD-DELIVERY        OCCURS 3 TIMES.
002700             15  ORD-DLV-DATE    PIC 9(08).
002800             15  ORD-DLV-QTY     PIC S9(05)     COMP-3.
002900*        値引 : 区分 1 は金額、区分 2 は率
003000         10  ORD-DISCOUNT.
003100             15  ORD-DISC-TYPE   PIC X(01).
003200             15  ORD-DISC-AMT    PIC 9(05).
003300         10  ORD-DISCOUNT-R      REDEFINES ORD-DISCOUNT.
003400             15  FILLER          PIC X(01).
003500             15  ORD-DISC-RATE   PIC 9V9(04).
003600*    --- 合計 ---
003700     05  ORD-TOTALS.
003800         10  ORD-TOTAL-AMT       PIC S9(11)     COMP-3.
003900         10  ORD-TAX-AMT         PIC S9(09)     COMP-3.
004000     05  ORD-NOTE-AREA           PIC X(40).     *> 備考
004100     05  ORD-NOTE-LINES          REDEFINES ORD-NOTE-AREA.
004200         10  ORD-NOTE-LINE       PIC X(20) OCCURS 2 TIMES.
