// Item lookup by COBOL qualified names (OF/IN and dotted forms, subscripts), over the
// default analysis and the COBOL rules; and the occurrence-number walk of
// FindItemByName, which must not answer with an item other than the one named.
#include <string>
#include <utility>

#include "cobolrules.h"
#include "record_fixture.h"

namespace {

const std::string kOrderRec = std::string(QB_SOURCE_DIR) + "/examples/ORDERREC.cpy";

// The reason a key finds nothing ("" when it finds an item).
std::string Reason(CopyRecord& record, const char* key) {
    std::string reason = "(unset)";
    CopyItem* item = record.FindItemByQualifiedName(key, reason);
    if (item != nullptr) return "found " + std::string(item->name) + (reason.empty() ? "" : " with a reason");
    return reason;
}

TEST(QualifiedLookup, OccurrencesOfTablesInTheirWrittenForms) {
    CopyRecord record("", kOrderRec.c_str());
    CopyItem* qty = record.FindItemByQualifiedName("ORD-QTY OF ORD-LINE (2)");
    ASSERT_NE(qty, nullptr);
    EXPECT_STREQ(qty->name, "ORD-QTY");
    ASSERT_NE(qty->parent, nullptr);
    EXPECT_STREQ(qty->parent->name, "ORD-LINE");
    EXPECT_EQ(qty->parent->elementNo, 2);
    for (const char* key : {"ord-qty in ord-line(2) of order-rec", "ORD-QTY IN ORD-LINE(2)", "ORD-QTY (2)",
                            "ORD-QTY OF ORDER-REC (2)", "ORDER-REC.ORD-LINE(2).ORD-QTY", "ORD-LINE(2).ORD-QTY",
                            "ORDER-REC.ORD-QTY(2)", "  ORD-QTY\t( 2 )  "}) {
        EXPECT_EQ(record.FindItemByQualifiedName(key), qty) << key;
    }

    // Two tables: one subscript each, outermost first, in one list or spread over the names.
    CopyItem* dlv = record.FindItemByQualifiedName("ORD-DLV-QTY OF ORD-LINE (2, 3)");
    ASSERT_NE(dlv, nullptr);
    EXPECT_STREQ(dlv->name, "ORD-DLV-QTY");
    EXPECT_EQ(dlv->parent->elementNo, 3);
    EXPECT_EQ(dlv->parent->parent->elementNo, 2);
    for (const char* key : {"ORD-DLV-QTY (2 3)", "ORD-DLV-QTY IN ORD-DELIVERY(3) IN ORD-LINE(2)",
                            "ORD-DLV-QTY OF ORD-DELIVERY (2, 3)", "ORDER-REC.ORD-LINE(2).ORD-DELIVERY(3).ORD-DLV-QTY",
                            "ORD-DELIVERY(2,3).ORD-DLV-QTY", "ORD-LINE(2).ORD-DLV-QTY(3)"}) {
        EXPECT_EQ(record.FindItemByQualifiedName(key), dlv) << key;
    }
    CopyItem* delivery = record.FindItemByQualifiedName("ORD-DELIVERY (5, 1)");
    ASSERT_NE(delivery, nullptr);
    EXPECT_EQ(delivery->elementNo, 1);
    EXPECT_EQ(delivery->parent->elementNo, 5);
    CopyItem* flag = record.FindItemByQualifiedName("ORD-STATUS-FLAG(4)");
    ASSERT_NE(flag, nullptr);
    EXPECT_EQ(flag->elementNo, 4);
    EXPECT_EQ(flag->position, 29);

    // Items outside tables, groups, REDEFINES items, the record itself.
    CopyItem* no = record.FindItemByQualifiedName("ORD-NO");
    ASSERT_NE(no, nullptr);
    EXPECT_EQ(no->position, 1);
    EXPECT_EQ(record.FindItemByQualifiedName("ORDER-REC.ORD-NO"), no);
    EXPECT_EQ(record.FindItemByQualifiedName("ORD-NO OF ORD-HEADER OF ORDER-REC"), no);
    EXPECT_EQ(record.FindItemByQualifiedName("ORDER-REC"), record.GetHead());
    CopyItem* mm = record.FindItemByQualifiedName("ORD-DATE-MM OF ORD-DATE-R");
    ASSERT_NE(mm, nullptr);
    EXPECT_EQ(mm->position, 15);
    EXPECT_EQ(record.FindItemByQualifiedName("FILLER IN ORD-DISCOUNT-R (1)"),
              record.FindItemByQualifiedName("FILLER (1)"));

    // The free function over the list head, const or not.
    const CopyItem* head = record.GetHead();
    EXPECT_EQ(FindQualifiedItem(head, "ORD-QTY (2)"), qty);
    EXPECT_EQ(FindQualifiedItem(record.GetHead(), "ORD-QTY (2)"), qty);
    EXPECT_EQ(FindQualifiedItem(static_cast<CopyItem*>(nullptr), "ORD-QTY (2)"), nullptr);
}

TEST(QualifiedLookup, ReasonsForFindingNothing) {
    CopyRecord record("", kOrderRec.c_str());
    EXPECT_EQ(Reason(record, "ORD-QTY (2)"), "found ORD-QTY");
    EXPECT_EQ(Reason(record, "ORD-QTY"), "ORD-QTY needs 1 subscript");
    EXPECT_EQ(Reason(record, "ORD-DLV-QTY (2)"), "ORD-DLV-QTY needs 2 subscripts, 1 given");
    EXPECT_EQ(Reason(record, "ORD-QTY (2, 1)"), "too many subscripts for ORD-QTY: it is in 1 table");
    EXPECT_EQ(Reason(record, "ORD-QTY (6)"), "subscript 6 beyond OCCURS 5 of ORD-LINE");
    EXPECT_EQ(Reason(record, "ORD-DLV-QTY (1, 4)"), "subscript 4 beyond OCCURS 3 of ORD-DELIVERY");
    EXPECT_EQ(Reason(record, "ORD-QTY (99999999999999999999)"), "subscript 2147483647 beyond OCCURS 5 of ORD-LINE");
    EXPECT_EQ(Reason(record, "ORD-NO (1)"), "ORD-NO is not in a table");
    EXPECT_EQ(Reason(record, "ORDER-REC(1).ORD-LINE.ORD-QTY"), "ORDER-REC is not in a table");
    EXPECT_EQ(Reason(record, "ORD-DELIVERY(1, 2).ORD-DLV-QTY"), "found ORD-DLV-QTY");
    EXPECT_EQ(Reason(record, "ORD-LINE(1, 2).ORD-DLV-QTY"), "too many subscripts for ORD-LINE: it is in 1 table");
    EXPECT_EQ(Reason(record, "ORD-NO OF ORD-LINE"), "not found");
    EXPECT_EQ(Reason(record, "ORD-LINE OF ORD-QTY (1)"), "not found");
    EXPECT_EQ(Reason(record, "NO-SUCH-ITEM"), "not found");
    EXPECT_EQ(Reason(record, std::string(70, 'A').c_str()), "not found");
    // Malformed keys.
    EXPECT_EQ(Reason(record, ""), "syntax: the key is empty");
    EXPECT_EQ(Reason(record, "   "), "syntax: the key is empty");
    EXPECT_EQ(Reason(record, nullptr), "syntax: the key is empty");
    EXPECT_EQ(Reason(record, "ORDER-REC..ORD-NO"), "syntax: a data name is expected, not '.'");
    EXPECT_EQ(Reason(record, "ORD-NO OF"), "syntax: a data name is expected, not the end of the key");
    EXPECT_EQ(Reason(record, "OF ORD-NO"), "syntax: a data name is expected, not 'OF'");
    EXPECT_EQ(Reason(record, "ORDER-REC.2.ORD-QTY"),
              "syntax: occurrence numbers are written in parentheses after the name, not as '2'");
    EXPECT_EQ(Reason(record, "ORD-QTY (2"), "syntax: ')' is missing after the subscripts of ORD-QTY");
    EXPECT_EQ(Reason(record, "ORD-QTY (2)(1)"), "syntax: a second subscript list after ORD-QTY");
    EXPECT_EQ(Reason(record, "ORD-QTY (I)"), "syntax: subscripts are occurrence numbers, not 'I'");
    EXPECT_EQ(Reason(record, "ORD-QTY ()"), "syntax: subscripts are occurrence numbers, not ')'");
    EXPECT_EQ(Reason(record, "ORD-QTY (0)"), "subscript 0: occurrences are numbered from 1");
    EXPECT_EQ(Reason(record, "ORD-QTY ORD-LINE"), "syntax: OF, IN or '.' is expected after ORD-QTY, not 'ORD-LINE'");
    EXPECT_EQ(Reason(record, "ORD-QTY OF ORD-LINE.ORDER-REC"),
              "syntax: a key joins its names with OF/IN or with dots, not both");
    EXPECT_EQ(Reason(record, "ORD-QTY (2))"), "syntax: OF, IN or '.' is expected after ORD-QTY, not ')'");
}

TEST(QualifiedLookup, AmbiguousNamesAndNamesOfDoubleByteCharacters) {
    // The same names under two groups; double-byte names whose second bytes differ
    // only as "A" and "a" do ("ア" is 0x83 0x41, "ヂ" 0x83 0x61).
    Copybook copybook("qualified_ambiguous.cpy",
                      {"01  R.", "05  B.", "10  D  PIC X.", "05  C  OCCURS 2.", "10  D  PIC 9.", "10  E  PIC X.",
                       "05  ヂ-X  PIC X(2).", "05  顧客名  PIC N(4)."});
    CopyRecord record("", copybook.path());
    EXPECT_EQ(Reason(record, "D"), "ambiguous: D OF B OF R and D OF C OF R");
    EXPECT_EQ(Reason(record, "D OF R (1)"), "ambiguous: D OF B OF R and D OF C OF R");
    EXPECT_EQ(Reason(record, "D OF B"), "found D");
    EXPECT_EQ(record.FindItemByQualifiedName("D OF B")->position, 1);
    EXPECT_EQ(record.FindItemByQualifiedName("R.C(2).D")->position, 4);
    EXPECT_EQ(record.FindItemByQualifiedName("E (2)")->position, 5);
    EXPECT_EQ(Reason(record, "C"), "C needs 1 subscript");
    EXPECT_EQ(record.FindItemByQualifiedName("c (2)")->elementNo, 2);

    CopyItem* dbcs = record.FindItemByQualifiedName("ヂ-x");
    ASSERT_NE(dbcs, nullptr);
    EXPECT_EQ(dbcs->position, 6);
    EXPECT_EQ(Reason(record, "ア-X"), "not found");
    // The seed's name compare folds the second byte: it takes the one for the other.
    EXPECT_EQ(CompareNoCase("ア-X", dbcs->name), 0);
    EXPECT_EQ(record.FindItemByQualifiedName("R.顧客名")->position, 8);
    EXPECT_EQ(record.FindItemByQualifiedName("顧客名 OF R"), record.FindItemByQualifiedName("顧客名"));
}

// A copybook as a program writes it, for the COBOL rules.
class RawCopybook : public ScratchFile {
public:
    RawCopybook(std::string name, const std::string& text) : ScratchFile(std::move(name)) { Write(text); }
};

TEST(QualifiedLookup, CobolRulesConditionsRenamesAndRecords) {
    RawCopybook copybook("qualified_cobol.cpy",
                         "       01  ORDER-IN.\n"
                         "           05  CUST-ID        PIC 9(6).\n"
                         "           05  LINES          OCCURS 3.\n"
                         "               10  QTY        PIC 9(3).\n"
                         "                   88  QTY-NONE  VALUE 0.\n"
                         "               10  CELL       PIC X OCCURS 2.\n"
                         "           05  LINE-COUNT     PIC 9.\n"
                         "           66  ALL-LINES      RENAMES CUST-ID THRU LINE-COUNT.\n"
                         "       01  ORDER-OUT.\n"
                         "           05  CUST-ID        PIC X(8).\n"
                         "           05  TOTAL          PIC 9(5) COMP-3.\n");
    CopyRecord record("", copybook.path(), CobolOptions());
    EXPECT_EQ(Reason(record, "CUST-ID"), "ambiguous: CUST-ID OF ORDER-IN and CUST-ID OF ORDER-OUT");
    CopyItem* out = record.FindItemByQualifiedName("CUST-ID OF ORDER-OUT");
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(out->byteLength, 8);
    EXPECT_EQ(record.FindItemByQualifiedName("ORDER-IN.CUST-ID")->byteLength, 6);
    EXPECT_EQ(record.FindItemByQualifiedName("TOTAL")->position, 9);

    CopyItem* none = record.FindItemByQualifiedName("QTY-NONE OF QTY (3)");
    ASSERT_NE(none, nullptr);
    EXPECT_TRUE(none->flags & ITEM_CONDITION);
    EXPECT_EQ(none->parent, record.FindItemByQualifiedName("QTY (3)"));
    EXPECT_EQ(none->position, 7 + 2 * 5);
    EXPECT_EQ(Reason(record, "QTY-NONE"), "QTY-NONE needs 1 subscript");

    CopyItem* cell = record.FindItemByQualifiedName("CELL OF LINES (3, 2)");
    ASSERT_NE(cell, nullptr);
    EXPECT_EQ(cell->position, 7 + 2 * 5 + 3 + 1);
    EXPECT_EQ(Reason(record, "CELL (3, 3)"), "subscript 3 beyond OCCURS 2 of CELL");
    EXPECT_EQ(Reason(record, "CELL (4, 1)"), "subscript 4 beyond OCCURS 3 of LINES");

    CopyItem* renames = record.FindItemByQualifiedName("ALL-LINES OF ORDER-IN");
    ASSERT_NE(renames, nullptr);
    EXPECT_TRUE(renames->flags & ITEM_RENAMES);
    EXPECT_EQ(renames->byteLength, 22);
}

TEST(QualifiedLookup, CobolRulesFragmentWithoutItsRecord) {
    // Items written for inclusion under an 01: a table at the top.
    RawCopybook copybook("qualified_fragment.cpy",
                         "           05  HEAD-CODE      PIC X(2).\n"
                         "           05  SLOT           OCCURS 4.\n"
                         "               10  SLOT-ID    PIC 9(2).\n");
    CopyRecord record("", copybook.path(), CobolOptions());
    CopyItem* slot = record.FindItemByQualifiedName("SLOT-ID (4)");
    ASSERT_NE(slot, nullptr);
    EXPECT_EQ(slot->position, 3 + 3 * 2);
    EXPECT_EQ(record.FindItemByQualifiedName("SLOT(2)")->elementNo, 2);
    EXPECT_EQ(Reason(record, "SLOT-ID (5)"), "subscript 5 beyond OCCURS 4 of SLOT");
}

// The fully qualified names of an item with its occurrence numbers, in both forms:
// "D OF B OF R (2)" and "R.B(2).D".
std::pair<std::string, std::string> FullKeys(const CopyItem* item) {
    std::string of = item->name, dotted = item->name, subscripts;
    for (const CopyItem* p = item; p != nullptr; p = p->parent) {
        const bool table = p->elementNo > 0 && p->dimension > (p->parent != nullptr ? p->parent->dimension : 0);
        if (table) subscripts = std::to_string(p->elementNo) + (subscripts.empty() ? "" : ", ") + subscripts;
        if (p != item) {
            of += std::string(" OF ") + p->name;
            dotted = std::string(p->name) + (table ? "(" + std::to_string(p->elementNo) + ")" : "") + "." + dotted;
        } else if (table) {
            dotted += "(" + std::to_string(p->elementNo) + ")";
        }
    }
    if (!subscripts.empty()) of += " (" + subscripts + ")";
    return {of, dotted};
}

// Every item of a list is found by its full names, and by nothing else.
void ExpectEveryItemByItsFullNames(CopyRecord& record) {
    int checked = 0;
    for (CopyItem* item = record.GetHead(); item != nullptr; item = item->next) {
        if (std::strcmp(item->name, "FILLER") == 0) continue;
        auto keys = FullKeys(item);
        EXPECT_EQ(record.FindItemByQualifiedName(keys.first.c_str()), item) << keys.first;
        EXPECT_EQ(record.FindItemByQualifiedName(keys.second.c_str()), item) << keys.second;
        ++checked;
    }
    EXPECT_GT(checked, 40);
}

TEST(QualifiedLookup, EveryItemOccurrenceByItsFullNames) {
    CopyRecord seed("", kOrderRec.c_str());
    ExpectEveryItemByItsFullNames(seed);
    CopyRecord cobol("", kOrderRec.c_str(), CobolOptions());
    ExpectEveryItemByItsFullNames(cobol);
}

// The path walk of FindItemByName follows occurrence numbers only into the array
// occurrences they number, and a name only into what lies below the item it names.
TEST(QualifiedLookup, PathWalkNamesNoOtherItem) {
    CopyRecord record("", kOrderRec.c_str());
    // ORD-QTY is elementary: nothing follows it in a path. The item after it (ORD-UNIT-PRICE,
    // of occurrence 2 too) is not its occurrence.
    EXPECT_EQ(record.FindItemByName("ORDER-REC.2.ORD-QTY.2"), nullptr);
    EXPECT_EQ(record.FindItemByName("ORDER-REC.2.ORD-QTY.1"), nullptr);
    EXPECT_EQ(record.FindItemByName("ORDER-REC.2.ORD-QTY.ORD-UNIT-PRICE"), nullptr);
    // Occurrence numbers alone walk down the arrays: the second delivery of line 2, not
    // the item code of line 2 (which only lies in occurrence 2).
    CopyItem* delivery = record.FindItemByName("ORDER-REC.2.2");
    ASSERT_NE(delivery, nullptr);
    EXPECT_STREQ(delivery->name, "ORD-DELIVERY");
    EXPECT_EQ(delivery->elementNo, 2);
    EXPECT_EQ(delivery->parent->elementNo, 2);
    EXPECT_EQ(record.FindItemByName("ORDER-REC.ORD-LINE.2.ORD-QTY"), nullptr);
    // What the walk found before still holds; an item of an array occurrence named last
    // is still not found.
    EXPECT_EQ(record.FindItemByName("ORDER-REC.2.ORD-QTY"), nullptr);
    EXPECT_EQ(record.FindItemByName("ORDER-REC.ORD-HEADER.ORD-NO"), record.FindItemByQualifiedName("ORD-NO"));
    EXPECT_EQ(record.FindItemByName("ORDER-REC.ORD-LINE.2"), record.FindItemByQualifiedName("ORD-LINE (2)"));
    EXPECT_EQ(record.FindItemByName("ORDER-REC.2.ORD-DELIVERY.3"), record.FindItemByQualifiedName("ORD-DELIVERY (2, 3)"));
    EXPECT_EQ(record.FindItemByName("ORDER-REC.ORD-HEADER.ORD-STATUS-FLAG.4"),
              record.FindItemByQualifiedName("ORD-STATUS-FLAG (4)"));

    // An elementary array occurrence, and a group without subordinates, have nothing below them.
    Copybook copybook("qualified_walk.cpy", {"01  R.", "05  A  PIC X OCCURS 2.", "05  G.", "05  C  PIC X."});
    CopyRecord small("", copybook.path());
    EXPECT_EQ(small.FindItemByName("R.1.C"), nullptr);
    EXPECT_EQ(small.FindItemByName("R.G.C"), nullptr);
    EXPECT_EQ(small.FindItemByName("R.1"), small.FindItemBySerial(2));
    EXPECT_STREQ(small.FindItemByName("R.C")->name, "C");
}

}  // namespace
