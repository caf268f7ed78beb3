// The HTML report of the analysed layout: header with the file name and the record
// size, one table row per shown item, footer with the size again. Shift_JIS text,
// every line ended by CR LF on disk.
#include "quillbox.h"

#include <cstring>


namespace {

const char* const HTML_TITLES[14] = {
    "No.", "レベル", "項目名", "宣言", "桁数", "小数部桁数", "バイト",
    "属性", "REDEFINES", "配列数", "要素番号", "次元数", "位置", "備考",
};

// Sets `text` to `source` with "&" and then "<", ">" and the double quote replaced by
// their entities. None of these bytes can be the second byte of a double-byte
// character, so Japanese text passes unchanged.
void AssignEscaped(CGIString& text, const char* source) {
    text.Assign(source);
    text.Replace("&", "&amp;");
    text.EscapeHtml();
}

// A 64-byte item text, escaped.
void AssignEscapedField(CGIString& text, const char (&field)[64]) { AssignEscaped(text, ItemText(field).Get()); }

const char* HtmlUsageText(unsigned flags) {
    const ItemFlagName* usage = ItemUsage(flags);
    return usage != nullptr ? usage->shown : "&nbsp;";
}

// Remembers a failed write instead of stopping at the first one: the caller
// learns of any failure at the end, and the file is as complete as it could be made.
struct ReportWriter {
    std::FILE* file;
    bool ok;
    template <typename... Args>
    void Print(const char* format, Args... args) {
        if (PrintText(file, format, args...) < 0) ok = false;
    }
    void Write(const char* text) {
        std::size_t length = std::strlen(text);
        if (WriteText(file, text, length) != length) ok = false;
    }
};

}  // namespace

bool WriteHtmlReport(std::FILE* file, const CopyItem* head, unsigned long recordLength,
                     const char* fileNameShown, bool arrayExpansion) {
    ReportWriter out{file, true};
    const int size = static_cast<int>(recordLength);

    CGIString fileName;
    AssignEscaped(fileName, fileNameShown);

    out.Write("<html>\n"
              "<head>\n"
              "<title>COPY句解析結果</title>\n"
              "<meta http-equiv=\"Content-type\" content=\"text/html; charset=Shift_JIS\">\n"
              "</head>\n"
              "<body>\n"
              "<b>COPY句解析結果</b><hr size=1>\n");
    out.Print("ファイル：<b>%s</b><br><br>\n", fileName.GetText());
    out.Print("<b>Size : <font color=\"#0000FF\">%d</font>Byte</b><br>\n", size);
    out.Write("<table border=1 cellspacing=0 cellpadding=1>\n"
              "<tr>\n");
    for (const char* title : HTML_TITLES) {
        out.Print("<td bgcolor=\"#CCFFFF\" nowrap align=\"center\"><font size=2 color=\"#000000\"><b>%s</b></font></td>\n",
                  title);
    }
    out.Write("</tr>\n");

    CGIString name, declaration, remark, redefines, occurs, element, dimension;
    int rowNumber = 0;
    for (const CopyItem* item = FirstShownItem(head, arrayExpansion); item != nullptr;
         item = NextShownItem(item, arrayExpansion)) {
        ++rowNumber;
        const unsigned flags = item->flags;
        AssignEscapedField(name, item->name);
        AssignEscapedField(declaration, item->picture);
        AssignEscapedField(remark, item->remark);
        occurs.Assign(item->occursCount);
        element.Assign(item->elementNo);
        dimension.Assign(item->dimension);
        if (item->redefines != nullptr) {
            AssignEscapedField(redefines, item->redefines->name);
        } else {
            redefines.Assign("&nbsp;");
        }
        if (name.Equals("")) name.Assign("&nbsp;");
        if (HasUsage(item, StorageForm::kFloat)) declaration.Assign("単精度");
        if (HasUsage(item, StorageForm::kDouble)) declaration.Assign("倍精度");
        if (declaration.Equals("")) declaration.Assign("GF");
        if (remark.Equals("")) remark.Assign("&nbsp;");
        if (occurs.Equals("0")) occurs.Assign("&nbsp;");
        if (element.Equals("0")) element.Assign("&nbsp;");
        if (dimension.Equals("0")) dimension.Assign("&nbsp;");

        out.Write("<tr>\n");
        out.Print("<td nowrap align=\"right\"><font size=2 color=\"#000000\">%d</font></td>\n", rowNumber);
        // The level cell: "&nbsp;" level - 1 times (none for level 1), then the level in two
        // digits. A condition name (88) or a RENAMES (66) stands one step inside the item
        // it belongs to, its variable or its record, rather than 87 or 65 steps in.
        int indent = item->level - 1;
        if (flags & (ITEM_CONDITION | ITEM_RENAMES)) indent = item->parent != nullptr ? item->parent->level : 1;
        out.Write("<td nowrap><font size=2 color=\"#000000\">");
        for (int i = 0; i < indent; ++i) out.Write("&nbsp;");
        out.Print("%02d</font></td>\n", item->level);
        out.Print("<td nowrap><font size=2 color=\"#000000\">%s</font></td>\n", name.GetText());
        out.Print("<td nowrap align=\"center\"><font size=2 color=\"#000000\">%s</font></td>\n", declaration.GetText());
        out.Print("<td nowrap align=\"right\"><font size=2 color=\"#000000\">%d</font></td>\n", item->digits);
        out.Print("<td nowrap align=\"right\"><font size=2 color=\"#000000\">%d</font></td>\n", item->scale);
        out.Print("<td nowrap align=\"right\"><font size=2 color=\"#000000\">%d</font></td>\n", item->byteLength);
        out.Print("<td nowrap><font size=2 color=\"#000000\">%s</font></td>\n", HtmlUsageText(flags));
        out.Print("<td nowrap><font size=2 color=\"#000000\">%s</font></td>\n", redefines.GetText());
        out.Print("<td nowrap align=\"right\"><font size=2 color=\"#000000\">%s</font></td>\n", occurs.GetText());
        out.Print("<td nowrap align=\"right\"><font size=2 color=\"#000000\">%s</font></td>\n", element.GetText());
        out.Print("<td nowrap align=\"right\"><font size=2 color=\"#000000\">%s</font></td>\n", dimension.GetText());
        out.Print("<td nowrap align=\"right\"><font size=2 color=\"#000000\">%d</font></td>\n", item->position);
        out.Print("<td nowrap><font size=2 color=\"#000000\">%s</font></td>\n", remark.GetText());
        out.Write("</tr>\n");
    }

    out.Write("</table>\n");
    out.Print("<b>Size : <font color=\"#0000FF\">%d</font>Byte</b><br>\n", size);
    out.Write("</body>\n"
              "</html>\n");
    return out.ok;
}

ExportResult WriteHtmlReport(const char* path, const CopyItem* head, unsigned long recordLength,
                             const char* fileNameShown, bool arrayExpansion) {
    // The report replaces an earlier file only when it is complete: a failed write,
    // or an exception on the way, leaves the old file as it was. A report that an
    // exception interrupts stays as far as it was written when there was no file.
    TextFileReplacement replacement(path);
    if (replacement.File() == nullptr) return EXPORT_OPEN_FAILED;
    bool ok;
    try {
        ok = WriteHtmlReport(replacement.File(), head, recordLength, fileNameShown, arrayExpansion);
    } catch (...) {
        replacement.CommitIfNew();
        throw;
    }
    if (!ok) return EXPORT_WRITE_FAILED;
    return replacement.Commit() ? EXPORT_DONE : EXPORT_WRITE_FAILED;
}
