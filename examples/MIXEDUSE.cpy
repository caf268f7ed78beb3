000100*================================================================
000200* MIXEDUSE  各種 USAGE の混在したレコード
000300*   2 進 (COMP / BINARY / COMP-4 / COMP-5)、パック 10 進、
000400*   浮動小数点、日本語 (PIC N)、ビット項目、編集項目を含む
000500*================================================================
000600 01  MIXED-USAGE-REC.
000700     05  MX-REC-TYPE             PIC X(02).     *> レコード区分
000800*    --- 2 進項目 (桁数で 2 / 4 / 8 バイト) ---
000900     05  MX-BIN-SMALL            PIC S9(04)     COMP.
001000     05  MX-BIN-MID              PIC 9(09)      BINARY.
001100     05  MX-BIN-LARGE            PIC S9(18)     COMPUTATIONAL.
001200     05  MX-BIN-COMP4            PIC 9(05)      COMP-4.
001300     05  MX-NATIVE-SHORT         PIC S9(04)     COMP-5.
001400     05  MX-NATIVE-LONG          PIC 9(10)      COMPUTATIONAL-5.
001500*    --- パック 10 進 ---
001600     05  MX-PACKED               PIC S9(07)V99  PACKED-DECIMAL.
001700     05  MX-PACKED-EVEN          PIC 9(06)      COMP-3.
001800     05  MX-AMOUNTS              COMP-3.        *> 下位に継承
001900         10  MX-AMT-1            PIC S9(05).
002000         10  MX-AMT-2            PIC S9(07)V99.
002100     05  MX-COUNTERS             COMP-5.
002200         10  MX-CNT-1            PIC 9(04).
002300         10  MX-CNT-2            PIC 9(09)      OCCURS 3.
002400*    --- 浮動小数点 ---
002500     05  MX-RATE                 COMP-1.        *> 単精度
002600     05  MX-RATE-DOUBLE          COMP-2.        *> 倍精度
002700*    --- 日本語項目 ---
002800     05  MX-KANJI-NAME           PIC N(10).     *> 氏名漢字
002900     05  MX-KANJI-NOTES          PIC N(08)      OCCURS 2.
003000*    --- ビット項目 ---
003100     05  MX-OPTION-BITS          PIC 1(16)      BIT.
003200     05  MX-FLAG-GROUP           BIT.
003300         10  MX-FLAG-A           PIC 1(03).
003400         10  MX-FLAG-B           PIC 1(12).
003500*    --- 表示・編集項目 ---
003600     05  MX-SIGNED-DISPLAY       PIC S9(05)V9(02).
003700     05  MX-EDITED-AMT           PIC -ZZZ,ZZ9.99.
003800     05  MX-EDITED-DATE          PIC 9(04)/99/99.
003900     05  FILLER                  PIC X(05).
