// UITextBox: the layout of appended text into lines and the character positions (render
// thread).
//
// Word mode: the text is cut after every space, tab or line feed; a piece that does not
// fit on the current line (and is not its first) starts a new line; a line feed ends its
// line. Character mode (languages without spaces between words): each line takes as many
// characters as fit in what is left of the width, at least one, and ends early at a line
// feed. Afterwards every line loses its trailing spaces and tabs and is measured again.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "ui/elements/UITextBox.h"
#include "ui/elements/UITextFont.h"

namespace {

bool IsBreak(char16_t c) { return c == u' ' || c == u'\t' || c == u'\n'; }

}  // namespace

void UITextBox::Relayout() {
    const std::u16string whole = std::move(text);
    text.clear();
    lines.clear();
    if (!rangeSet) firstLine = lineCount = 0;
    if (!whole.empty()) RenderAppend(whole.data(), uint32_t(whole.size()));
    else publishedLines.store(0, std::memory_order_release);
}

void UITextBox::RenderAppend(const char16_t* from, uint32_t count) {
    if (!from || count == 0) return;
    // Without a font the text is kept and laid out once the font arrives (op 56).
    text.append(from, count);
    if (!tr.font) return;
    if (tr.lineBreaking) LayOutCharacters(from, count);
    else LayOutWords(from, count);
    FinishLines();
}

void UITextBox::LayOutWords(const char16_t* from, uint32_t count) {
    if (lines.empty()) lines.emplace_back();
    const float boxWidth = Render().size.x;
    const float scaleX = tr.fontScale.x;
    UITextMetrics metrics(tr.font, tr.spacing);
    float w = lines.back().width;
    uint32_t start = 0;
    float wordAdvances = 0.0f;  // pixels, with the break character
    for (uint32_t i = 0; i <= count; ++i) {
        const bool end = i == count;
        if (!end) {
            wordAdvances += metrics.Of(from[i]).advance;
            if (!IsBreak(from[i])) continue;
        }
        const uint32_t length = (end ? i : i + 1) - start;
        if (length > 0) {
            const float wordWidth = wordAdvances * scaleX;
            if (w + wordWidth > boxWidth && w > 0.0f) {
                lines.emplace_back();
                w = 0.0f;
            }
            Line& line = lines.back();
            line.text.append(from + start, length);
            if (line.tracked) {
                for (uint32_t k = start; k < start + length; ++k) {
                    const UITextCharMetrics m = metrics.Of(from[k]);
                    line.advances += m.advance;
                    if (IsBreak(from[k])) continue;
                    line.contentAdvances = line.advances;
                    line.correction = m.hasGlyph ? m.lastCorrection : 0.0f;
                    line.contentCharacters = uint32_t(line.text.size() - (start + length - k - 1));
                }
            }
            w += wordWidth;
            line.width = w;
        }
        if (!end && from[i] == u'\n') {
            lines.emplace_back();
            w = 0.0f;
        }
        start = i + 1;
        wordAdvances = 0.0f;
    }
}

float UITextBox::UnitWidth(const char16_t* at, const char16_t* end, uint32_t& units) const {
    units = 1;
    if (*at == u'|') {
        const char16_t* close = at + 1;
        while (close < end && *close != u'|') ++close;
        if (close < end) {
            bool any = false;
            units = uint32_t(close - at) + 1;
            return TagChildrenWidth(at + 1, uint32_t(close - at) - 1, any);
        }
    }
    return UITextAdvance(tr.font, *at, tr.spacing);
}

void UITextBox::LayOutCharacters(const char16_t* from, uint32_t count) {
    if (lines.empty()) lines.emplace_back();
    const float boxWidth = Render().size.x;
    const float scaleX = tr.fontScale.x;
    const char16_t* p = from;
    const char16_t* end = from + count;
    float w = lines.back().width;
    while (p < end) {
        const float room = (boxWidth - w) / scaleX;
        // The characters that fit in the room; a line feed among them ends the line there.
        float walked = 0.0f;
        uint32_t n = 0;
        int32_t lineFeed = -1;
        while (p + n < end) {
            if (p[n] == u'\n') {
                lineFeed = int32_t(n);
                break;
            }
            uint32_t units = 1;
            const float width = UnitWidth(p + n, end, units);
            if (walked + width > room) break;
            walked += width;
            n += units;
        }
        lines.back().tracked = false;
        if (lineFeed >= 0) {
            lines.back().text.append(p, uint32_t(lineFeed));
            p += lineFeed + 1;  // the line feed is consumed
        } else {
            if (n == 0) {
                uint32_t units = 1;
                UnitWidth(p, end, units);
                n = units;
            }
            lines.back().text.append(p, n);
            p += n;
        }
        lines.emplace_back();
        w = 0.0f;
    }
    while (!lines.empty() && lines.back().text.empty()) lines.pop_back();
}

void UITextBox::FinishLines() {
    const float scaleX = tr.fontScale.x;
    for (Line& line : lines) {
        if (line.tracked) {
            // Word layout kept the measure of the text without its trailing blanks.
            line.text.resize(line.contentCharacters);
            line.advances = line.contentAdvances;
            line.characters = line.contentCharacters;
            line.width = (line.contentCharacters ? line.contentAdvances + line.correction : 0.0f) * scaleX;
            continue;
        }
        // A line feed ending a line is never drawn: it goes with the trailing blanks.
        size_t length = line.text.size();
        while (length > 0 && IsBreak(line.text[length - 1])) --length;
        line.text.resize(length);
        line.characters = uint32_t(length);
        line.width = UITextMeasure(tr.font, line.text.c_str(), uint32_t(length), tr.spacing, false) * scaleX;
    }
    if (!rangeSet) {
        firstLine = 0;
        lineCount = uint32_t(lines.size());
    }
    publishedLines.store(uint32_t(lines.size()), std::memory_order_release);
}

uint32_t UITextBox::TotalCharacters() const {
    uint32_t total = 0;
    for (const Line& line : lines) total += line.characters;
    return total;
}

Vector UITextBox::GetCharacterPosition(uint32_t index) const {
    uint32_t before = 0;
    uint32_t i = 0;
    for (; i < lines.size(); ++i) {
        if (index < before + lines[i].characters) break;
        before += lines[i].characters;
    }
    if (i >= lines.size()) return Vector(0, 0, 0, 1);
    const uint32_t begin = DrawnBegin();
    const uint32_t drawn = DrawnEnd() > begin ? DrawnEnd() - begin : 0;
    const Line& line = lines[i];
    const float y = BlockTop(drawn) + float(i) * LineStep();
    const float prefix = UITextMeasure(tr.font, line.text.c_str(), index - before, tr.spacing, true);
    return Vector(LineX(line) + prefix * tr.fontScale.x, y, 0, 1);
}
