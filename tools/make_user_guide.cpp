// Turns the user guide from Markdown into the PDF that the program's "User Guide" entry opens:
// a title page with the icon, the contents with their page numbers on the next page, each
// chapter on a new page, the pictures of the windows at the size they have on screen (smaller
// when the page is narrower), and a page number at the foot of every page.
// Usage: make_user_guide GUIDE.md PICTURES_FOLDER ICON.svg OUTPUT.pdf

#include <QAbstractTextDocumentLayout>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImageReader>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QSvgRenderer>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextFrame>
#include <QTextTable>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {

const QString Title = QStringLiteral("Orvik Serial Interface");
// Text is laid out in these units; the PDF keeps it as vector text whatever they are.
constexpr int Resolution = 300;
constexpr qreal ScreenDpi = 96; // what a picture's size and a QTextImageFormat's width count in

struct Page
{
    qreal width;  // the text's width, device units
    qreal height; // one page of text, device units, the footer excluded
    qreal footer; // the gap and line of the footer
};

bool isChapter(const QTextBlock &block)
{
    return block.blockFormat().headingLevel() == 2;
}

bool isSection(const QTextBlock &block)
{
    return block.blockFormat().headingLevel() == 3;
}

int pageAt(qreal y, const Page &page)
{
    return int(std::floor(y / page.height)) + 1;
}

int pageOf(QTextDocument &document, const QTextBlock &block, const Page &page)
{
    return pageAt(document.documentLayout()->blockBoundingRect(block).top(), page);
}

// The page where a block's first line ends: a heading belongs on the page of that line, for a
// picture the whole picture.
int firstLineEndsOn(QTextDocument &document, const QTextBlock &block, const Page &page)
{
    qreal bottom = document.documentLayout()->blockBoundingRect(block).top();
    if (const QTextLayout *layout = block.layout(); layout && layout->lineCount() > 0)
        bottom += layout->lineAt(0).y() + layout->lineAt(0).height() - 1;
    return pageAt(bottom, page);
}

// Pictures print at their size on screen, made smaller to fit the width and a part of the page
// height, so that one fits beside its heading and a few lines.
void sizePictures(QTextDocument &document, const QDir &pictures, const Page &page)
{
    const qreal maxWidth = page.width * ScreenDpi / Resolution;
    const qreal maxHeight = 0.62 * page.height * ScreenDpi / Resolution;
    QList<QTextFragment> images; // gathered first: a new format may split and merge fragments
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next())
        for (auto it = block.begin(); !it.atEnd(); ++it)
            if (it.fragment().charFormat().isImageFormat())
                images << it.fragment();
    for (const QTextFragment &fragment : images) {
        QTextImageFormat image = fragment.charFormat().toImageFormat();
        QImageReader reader(pictures.filePath(image.name()));
        const QImage picture = reader.read();
        if (picture.isNull()) {
            std::fprintf(stderr, "make_user_guide: cannot read the picture %s\n", qPrintable(image.name()));
            std::exit(1);
        }
        const qreal dpi = picture.dotsPerMeterX() > 0 ? picture.dotsPerMeterX() * 0.0254 : ScreenDpi;
        QSizeF size = QSizeF(picture.size()) * (ScreenDpi / dpi);
        size *= std::min({1.0, maxWidth / size.width(), maxHeight / size.height()});
        image.setWidth(size.width());
        image.setHeight(size.height());
        QTextCursor cursor(&document);
        cursor.setPosition(fragment.position());
        cursor.setPosition(fragment.position() + fragment.length(), QTextCursor::KeepAnchor);
        cursor.setCharFormat(image);
    }
}

void styleTables(QTextDocument &document)
{
    for (QTextFrame *frame : document.rootFrame()->childFrames()) {
        auto *table = qobject_cast<QTextTable *>(frame);
        if (!table)
            continue;
        QTextTableFormat format = table->format();
        format.setBorder(0.5);
        format.setBorderStyle(QTextFrameFormat::BorderStyle_Solid);
        format.setBorderBrush(QColor(0x9a, 0xa0, 0xa6));
        format.setBorderCollapse(true);
        format.setCellPadding(4);
        format.setCellSpacing(0);
        format.setHeaderRowCount(1);
        format.setWidth(QTextLength(QTextLength::PercentageLength, 100));
        table->setFormat(format);
        for (int column = 0; column < table->columns(); ++column) {
            QTextTableCell cell = table->cellAt(0, column);
            QTextCharFormat header = cell.format();
            header.setBackground(QColor(0xe3, 0xe6, 0xea));
            cell.setFormat(header);
        }
    }
}

// The first heading is the title: under the icon, centred, large, with the version under it.
void makeTitle(QTextDocument &document, const QString &iconPath)
{
    QTextBlock title = document.begin();
    while (title.isValid() && title.blockFormat().headingLevel() != 1)
        title = title.next();
    if (!title.isValid())
        return;
    QTextCursor cursor(title);
    QTextBlockFormat format = title.blockFormat();
    format.setAlignment(Qt::AlignHCenter);
    format.setTopMargin(250);
    format.setBottomMargin(10);
    cursor.setBlockFormat(format);
    cursor.select(QTextCursor::BlockUnderCursor);
    QTextCharFormat large;
    large.setFontPointSize(26);
    cursor.mergeCharFormat(large);

    QSvgRenderer svg(iconPath);
    if (!svg.isValid()) {
        std::fprintf(stderr, "make_user_guide: cannot read the icon %s\n", qPrintable(iconPath));
        std::exit(1);
    }
    QImage icon(600, 600, QImage::Format_ARGB32_Premultiplied);
    icon.fill(Qt::white);
    QPainter painter(&icon);
    painter.setRenderHint(QPainter::Antialiasing);
    svg.render(&painter);
    painter.end();
    const QUrl iconName(QStringLiteral("orvik-icon"));
    // Resources are looked up by their name resolved against the base URL.
    document.addResource(QTextDocument::ImageResource, document.baseUrl().resolved(iconName), icon);
    QTextImageFormat iconFormat;
    iconFormat.setName(iconName.toString());
    iconFormat.setWidth(170);
    iconFormat.setHeight(170);
    cursor.setPosition(title.position());
    cursor.insertImage(iconFormat);
    cursor.insertText(QString(QChar::LineSeparator));

    cursor.movePosition(QTextCursor::EndOfBlock);
    QTextBlockFormat subtitle;
    subtitle.setAlignment(Qt::AlignHCenter);
    subtitle.setBottomMargin(160);
    QTextCharFormat subtitleText;
    subtitleText.setFontPointSize(14);
    subtitleText.setForeground(QColor(0x30, 0x34, 0x3a));
    cursor.insertBlock(subtitle, subtitleText);
    cursor.insertText(QStringLiteral("User Guide \u2014 version %1").arg(QStringLiteral(ORVIK_VERSION)));
}

bool isCode(const QTextBlock &block)
{
    return block.isValid() && block.blockFormat().hasProperty(QTextFormat::BlockCodeFence);
}

// Room around the headings, and code set apart on a light ground, one block per line.
void styleBlocks(QTextDocument &document)
{
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        QTextBlockFormat format = block.blockFormat();
        if (isSection(block)) {
            format.setTopMargin(30);
            format.setBottomMargin(10);
        } else if (isChapter(block)) {
            format.setBottomMargin(30);
        } else if (isCode(block)) {
            format.setBackground(QColor(0xf0, 0xf2, 0xf4));
            format.setLeftMargin(30);
            format.setTopMargin(isCode(block.previous()) ? 0 : 12);
            format.setBottomMargin(isCode(block.next()) ? 0 : 24);
        } else {
            continue;
        }
        QTextCursor(block).setBlockFormat(format);
    }
}

struct Entry
{
    QTextBlock heading;
    QTextBlock line; // its line in the contents
};

// The contents go before the first chapter; each line ends with a page number written later.
QList<Entry> insertContents(QTextDocument &document, const Page &page)
{
    QList<QTextBlock> headings;
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next())
        if (isChapter(block) || isSection(block))
            headings << block;
    if (headings.isEmpty())
        return {};

    QTextCursor cursor(headings.first().previous());
    cursor.movePosition(QTextCursor::EndOfBlock);
    QTextBlockFormat caption;
    caption.setPageBreakPolicy(QTextFormat::PageBreak_AlwaysBefore);
    caption.setBottomMargin(24);
    QTextCharFormat captionText;
    captionText.setFontWeight(QFont::Bold);
    captionText.setFontPointSize(16);
    cursor.insertBlock(caption, captionText);
    cursor.insertText(QStringLiteral("Contents"));

    QList<Entry> entries;
    for (const QTextBlock &heading : headings) {
        QTextBlockFormat line;
        const qreal indent = isSection(heading) ? 90 : 0;
        line.setLeftMargin(indent);
        line.setTopMargin(isChapter(heading) ? 14 : 0);
        // Tab stops count in screen pixels from the margin; just inside the line, as a stop at
        // its very end wraps the number onto a line of its own.
        line.setTabPositions(
            {QTextOption::Tab((page.width - indent) * ScreenDpi / Resolution - 1, QTextOption::RightTab)});
        QTextCharFormat text;
        text.setFontWeight(isChapter(heading) ? QFont::Bold : QFont::Normal);
        cursor.insertBlock(line, text);
        cursor.insertText(heading.text() + QStringLiteral("\t0"));
        entries.append({heading, cursor.block()});
    }
    return entries;
}

// Writes each heading's page into the contents until they hold still (a number may grow a
// digit and push a heading on), and keeps each heading on the page of what follows it.
void paginate(QTextDocument &document, const QList<Entry> &entries, const Page &page)
{
    for (int pass = 0; pass < 10; ++pass) {
        // Laid out afresh: after format changes the layout's own update can leave a block
        // unlaid, with no height, and it would not be printed.
        document.markContentsDirty(0, document.characterCount());
        bool changed = false;
        for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
            const QTextBlock next = block.next();
            const bool alone = (isChapter(block) || isSection(block)) && next.isValid() &&
                               firstLineEndsOn(document, next, page) != pageOf(document, block, page);
            if (alone && block.blockFormat().pageBreakPolicy() == QTextFormat::PageBreak_Auto) {
                QTextBlockFormat format = block.blockFormat();
                format.setPageBreakPolicy(QTextFormat::PageBreak_AlwaysBefore);
                QTextCursor(block).setBlockFormat(format);
                changed = true;
            }
        }
        for (const Entry &entry : entries) {
            const QString number = QString::number(pageOf(document, entry.heading, page));
            const QString text = entry.line.text();
            const qsizetype tab = text.lastIndexOf(u'\t');
            if (text.mid(tab + 1) == number)
                continue;
            QTextCursor cursor(entry.line);
            cursor.setPosition(entry.line.position() + int(tab) + 1);
            cursor.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
            cursor.insertText(number);
            changed = true;
        }
        if (!changed)
            return;
    }
}

void print(QTextDocument &document, QPdfWriter &pdf, const Page &page)
{
    QPainter painter(&pdf);
    const int pages = document.pageCount();
    QFont footerFont = document.defaultFont();
    footerFont.setPointSizeF(footerFont.pointSizeF() * 0.85);
    for (int index = 0; index < pages; ++index) {
        if (index > 0)
            pdf.newPage();
        painter.save();
        painter.translate(0, -index * page.height);
        QAbstractTextDocumentLayout::PaintContext context;
        context.clip = QRectF(0, index * page.height, page.width, page.height);
        painter.setClipRect(context.clip);
        document.documentLayout()->draw(&painter, context);
        painter.restore();

        if (index == 0)
            continue; // the title page
        const QRectF foot(0, page.height + page.footer / 2, page.width, page.footer / 2);
        painter.setFont(footerFont);
        painter.setPen(QColor(0x60, 0x66, 0x6e));
        painter.drawLine(QLineF(foot.topLeft(), foot.topRight()));
        painter.drawText(foot, Qt::AlignLeft | Qt::AlignBottom, Title + QStringLiteral(" \u2014 User Guide"));
        painter.drawText(foot, Qt::AlignRight | Qt::AlignBottom,
                         QStringLiteral("Page %1 of %2").arg(index + 1).arg(pages));
    }
}

} // namespace

int main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    if (argc != 5) {
        std::fprintf(stderr, "usage: make_user_guide GUIDE.md PICTURES_FOLDER ICON.svg OUTPUT.pdf\n");
        return 2;
    }
    QFile source(QString::fromLocal8Bit(argv[1]));
    if (!source.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "make_user_guide: cannot read %s: %s\n", argv[1], qPrintable(source.errorString()));
        return 1;
    }
    const QDir pictures(QString::fromLocal8Bit(argv[2]));

    QPdfWriter pdf(QString::fromLocal8Bit(argv[4]));
    pdf.setTitle(Title + QStringLiteral(" - User Guide"));
    pdf.setCreator(Title);
    pdf.setResolution(Resolution);
    pdf.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait, QMarginsF(20, 18, 20, 12),
                                  QPageLayout::Millimeter));
    const QRectF body = pdf.pageLayout().paintRectPixels(Resolution);
    const qreal footer = 10 / 25.4 * Resolution;
    // The layout counts in 64ths of a unit: a page height it can hold exactly keeps page n
    // starting at n times the height, however many pages there are.
    const auto exact = [](qreal length) { return std::floor(length * 64) / 64; };
    const Page page{exact(body.width()), exact(body.height() - footer), footer};

    QTextDocument document;
    document.setDefaultFont(QFont(QStringLiteral("DejaVu Sans"), 10));
    document.documentLayout()->setPaintDevice(&pdf);
    document.setBaseUrl(QUrl::fromLocalFile(pictures.absolutePath() + u'/'));
    document.setMarkdown(QString::fromUtf8(source.readAll()));
    document.setPageSize(QSizeF(page.width, page.height));
    document.setDocumentMargin(0);

    sizePictures(document, pictures, page);
    styleTables(document);
    styleBlocks(document);
    makeTitle(document, QString::fromLocal8Bit(argv[3]));
    const QList<Entry> entries = insertContents(document, page);
    for (const Entry &entry : entries) {
        if (!isChapter(entry.heading))
            continue;
        QTextBlockFormat format = entry.heading.blockFormat();
        format.setPageBreakPolicy(QTextFormat::PageBreak_AlwaysBefore);
        QTextCursor(entry.heading).setBlockFormat(format);
    }
    paginate(document, entries, page);
    print(document, pdf, page);
    return 0;
}
