#include "app/report.h"

#include <QBuffer>
#include <QPainter>
#include <QPdfWriter>
#include <QTextLayout>
#include <algorithm>
#include <functional>

using namespace column;

namespace {

QFont report_font(double pt, bool bold) {
    QFont f(QStringLiteral("Liberation Sans"));
    f.setPointSizeF(pt);
    f.setBold(bold);
    return f;
}

// `text` in lines no wider than `width`, broken between words where it can and inside a word
// longer than a line; at most `max_lines` of them, the last one elided when text is left over.
QStringList wrapped(const QString& text, const QFont& font, QPaintDevice* device, qreal width,
                    int max_lines) {
    QStringList lines;
    const QFontMetricsF fm(font, device);
    for (const QString& paragraph : text.split(QLatin1Char('\n'))) {
        QTextLayout layout(paragraph, font, device);
        QTextOption option;
        option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
        layout.setTextOption(option);
        layout.beginLayout();
        for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
            line.setLineWidth(width);
            if (lines.size() == max_lines - 1) {
                lines << fm.elidedText(paragraph.mid(line.textStart()).trimmed(), Qt::ElideRight,
                                       width);
                break;
            }
            lines << paragraph.mid(line.textStart(), line.textLength()).trimmed();
        }
        layout.endLayout();
        if (lines.size() >= max_lines) break;
    }
    return lines;
}

// What the table shows of each row. Every column is as wide as its widest text, so that
// addresses, types, versions and the like show whole; the location, free text, takes the width
// left and is elided where it is longer.
struct Shown {
    QString title;
    std::function<QString(const QStringList&)> cell;
    bool free = false;
};

QList<Shown> shown_columns() {
    const auto col = [](int c) { return [c](const QStringList& r) { return r.value(c); }; };
    return {
        {QStringLiteral("Adr."), col(Address)},
        {QStringLiteral("Type"), col(Type)},
        {QStringLiteral("PCB / logiciel"),
         [](const QStringList& r) {
             return r.value(Pcb).isEmpty() && r.value(Soft).isEmpty()
                        ? QString()
                        : r.value(Pcb) + " / " + r.value(Soft);
         }},
        {QString::fromUtf8("N° série"), col(Serial)},
        {QStringLiteral("Mode"), col(Mode)},
        {QStringLiteral("Lieu"), col(Location), true},
        {QString::fromUtf8("Type prévu"), col(Planned_Type)},
        {QStringLiteral("Comparaison"), col(Comparison)},
        {QStringLiteral("Lecture"), col(Readout_Col)},
        {QStringLiteral("Essai"), col(Walk_Test)},
        {QString::fromUtf8("Al. / déf. / com"),
         [](const QStringList& r) {
             return r.value(Alarms).isEmpty() ? QString()
                                              : r.value(Alarms) + " / " + r.value(Point_Faults) +
                                                    " / " + r.value(Com_Faults);
         }},
        {QStringLiteral("LED vue"), col(Led_Seen)},
    };
}

// What one page holds: a run of rows under the table's heading (none on a page that holds only
// the totals), and whether the totals and signatures close it.
struct Page {
    int first = 0, count = 0;
    bool tail = false;
    int change_first = 0, change_count = 0; // the lines of the changes since the earlier visit
    bool change_head = false;
};

} // namespace

QByteArray report_pdf(const Report_Header& header, const Report_Rows& rows, const QString& totals) {
    QBuffer out;
    out.open(QIODevice::WriteOnly);
    QPdfWriter pdf(&out);
    pdf.setPageSize(QPageSize(QPageSize::A4));
    pdf.setPageOrientation(QPageLayout::Landscape);
    pdf.setPageMargins(QMarginsF(12, 12, 12, 12), QPageLayout::Millimeter);
    pdf.setResolution(300);
    pdf.setTitle(QStringLiteral("Rapport de mise en service — %1").arg(header.site));
    pdf.setCreator(QStringLiteral("Kalvenor"));

    QPainter p(&pdf);
    const qreal mm = pdf.resolution() / 25.4;
    const qreal page_w = pdf.width();
    // The footer's band at the bottom of each page; nothing else goes there.
    const qreal bottom = pdf.height() - 7 * mm;
    const qreal pad = 1.2 * mm;
    const qreal row_h = 6 * mm;
    const QFont title_font = report_font(15, true), fact_font = report_font(10, false),
                head_font = report_font(8.5, true), cell_font = report_font(8.5, false),
                totals_head_font = report_font(10, true), totals_font = report_font(10, false),
                sign_font = report_font(9.5, true), footer_font = report_font(7.5, false);
    const QFontMetricsF head_m(head_font, &pdf), cell_m(cell_font, &pdf), fact_m(fact_font, &pdf),
        totals_m(totals_font, &pdf);
    const QString when = header.when.toString(QStringLiteral("dd/MM/yyyy HH:mm"));

    // Everything is measured first, so that the footer can give the number of pages.

    // The header: two facts a line, each in its half of the page, the value wrapped beside its
    // label, three lines at most.
    const QList<std::pair<QString, QString>> facts = {
        {QStringLiteral("Site : "), header.site},
        {QStringLiteral("Boucle : "), header.loop},
        {QStringLiteral("Technicien : "), header.engineer},
        {QStringLiteral("Date : "), when},
        {QStringLiteral("Interface : "),
         QStringLiteral("version %1").arg(header.interface_version)},
        {QStringLiteral("Port : "), header.port}};
    const qreal fact_w = page_w / 2 - 4 * mm;
    QList<QStringList> fact_lines;
    for (const auto& [label, value] : facts)
        fact_lines << wrapped(value, fact_font, &pdf, fact_w - fact_m.horizontalAdvance(label), 3);
    const qreal title_h = 11 * mm;
    QList<qreal> fact_row_h;
    qreal header_h = title_h;
    for (int i = 0; i + 1 < facts.size(); i += 2) {
        const int n = int(std::max({fact_lines[i].size(), fact_lines[i + 1].size(), qsizetype(1)}));
        fact_row_h << n * fact_m.lineSpacing() + 1.5 * mm;
        header_h += fact_row_h.last();
    }
    header_h += 4 * mm;

    // The columns.
    const QList<Shown> shown = shown_columns();
    QList<qreal> col_w(shown.size(), 0);
    qreal fixed = 0;
    for (int c = 0; c < shown.size(); ++c) {
        if (shown[c].free) continue;
        qreal w = head_m.horizontalAdvance(shown[c].title);
        for (const QStringList& row : rows)
            w = std::max(w, cell_m.horizontalAdvance(shown[c].cell(row)));
        col_w[c] = w + 2 * pad + 0.3 * mm;
        fixed += col_w[c];
    }
    // Text unusually long for its column (a count in the millions) narrows all of them before
    // it leaves the location too little room.
    const qreal min_free = 40 * mm;
    const qreal narrow = fixed + min_free > page_w ? (page_w - min_free) / fixed : 1.0;
    for (int c = 0; c < shown.size(); ++c)
        col_w[c] = shown[c].free ? page_w - fixed * narrow : col_w[c] * narrow;

    // The totals, as many lines as they take, then the two signature boxes.
    const QStringList totals_lines = wrapped(totals, totals_font, &pdf, page_w, 24);
    const qreal totals_h = totals_lines.size() * totals_m.lineSpacing();
    const qreal sign_h = 32 * mm;
    const qreal tail_h = 9 * mm + totals_h + 4 * mm + sign_h;

    // The pages: the header and the heading on the first, the heading again over each run of
    // rows, the totals and signatures where they fit whole, on a page of their own otherwise.
    QList<Page> pages{Page{}};
    qreal y = header_h + row_h;
    for (int r = 0; r < rows.size(); ++r) {
        if (y + row_h > bottom) {
            pages << Page{r, 0, false};
            y = row_h;
        }
        ++pages.last().count;
        y += row_h;
    }
    // The changes since the earlier visit, a line each, between the table and the totals; their
    // title never ends a page alone.
    const qreal change_head_h = 9 * mm;
    for (int i = 0; i < header.changes.size(); ++i) {
        if (y + (i == 0 ? change_head_h : 0) + row_h > bottom) {
            pages << Page{int(rows.size()), 0, false, i, 0, false};
            y = 0;
        }
        if (i == 0) {
            pages.last().change_head = true;
            y += change_head_h;
        }
        ++pages.last().change_count;
        y += row_h;
    }
    if (y + tail_h > bottom) pages << Page{int(rows.size()), 0, false};
    pages.last().tail = true;

    const auto draw_lines = [&p](const QStringList& lines, qreal x, qreal top, qreal w,
                                 qreal line_h) {
        for (int i = 0; i < lines.size(); ++i)
            p.drawText(QRectF(x, top + i * line_h, w, line_h), Qt::AlignLeft | Qt::AlignVCenter,
                       lines[i]);
    };
    const auto table_head = [&] {
        p.setFont(head_font);
        p.fillRect(QRectF(0, y, page_w, row_h), QColor(220, 220, 220));
        qreal x = 0;
        for (int c = 0; c < shown.size(); ++c) {
            const qreal w = col_w[c] - 2 * pad;
            p.drawText(QRectF(x + pad, y, w, row_h), Qt::AlignVCenter | Qt::AlignLeft,
                       head_m.elidedText(shown[c].title, Qt::ElideRight, w));
            x += col_w[c];
        }
        y += row_h;
    };
    const auto footer = [&](int page_no) {
        p.setFont(footer_font);
        const QFontMetricsF fm(footer_font, &pdf);
        const QString site = fm.elidedText(header.site, Qt::ElideRight, 120 * mm);
        p.drawText(QRectF(0, pdf.height() - 5 * mm, page_w, 5 * mm),
                   Qt::AlignRight | Qt::AlignBottom,
                   QStringLiteral("%1 — %2 — page %3 / %4")
                       .arg(site, when)
                       .arg(page_no)
                       .arg(pages.size()));
    };

    p.setPen(QPen(Qt::black, 0.2 * mm));
    for (int n = 0; n < pages.size(); ++n) {
        const Page& page = pages[n];
        if (n > 0) pdf.newPage();
        y = 0;
        if (n == 0) {
            p.setFont(title_font);
            p.drawText(QRectF(0, y, page_w, 9 * mm), Qt::AlignLeft | Qt::AlignVCenter,
                       QStringLiteral("Rapport de mise en service de boucle"));
            y += title_h;
            p.setFont(fact_font);
            for (int i = 0; i < fact_row_h.size(); ++i) {
                for (int k = 0; k < 2; ++k) {
                    const QString& label = facts[2 * i + k].first;
                    const qreal x = k * page_w / 2, label_w = fact_m.horizontalAdvance(label);
                    draw_lines({label}, x, y + 0.75 * mm, label_w, fact_m.lineSpacing());
                    draw_lines(fact_lines[2 * i + k], x + label_w, y + 0.75 * mm, fact_w - label_w,
                               fact_m.lineSpacing());
                }
                y += fact_row_h[i];
            }
            y += 4 * mm;
        }
        if (n == 0 || page.count > 0) {
            table_head();
            p.setFont(cell_font);
            for (int r = page.first; r < page.first + page.count; ++r) {
                if (r % 2) p.fillRect(QRectF(0, y, page_w, row_h), QColor(245, 245, 245));
                qreal x = 0;
                for (int c = 0; c < shown.size(); ++c) {
                    const qreal w = col_w[c] - 2 * pad;
                    p.drawText(QRectF(x + pad, y, w, row_h), Qt::AlignVCenter | Qt::AlignLeft,
                               cell_m.elidedText(shown[c].cell(rows.at(r)), Qt::ElideRight, w));
                    x += col_w[c];
                }
                y += row_h;
            }
            p.drawLine(QPointF(0, y), QPointF(page_w, y));
        }
        if (page.change_count > 0) {
            if (page.change_head) {
                p.setFont(totals_head_font);
                p.drawText(QRectF(0, y + 3 * mm, page_w, 6 * mm), Qt::AlignLeft | Qt::AlignVCenter,
                           header.changes_title);
                y += change_head_h;
            }
            p.setFont(cell_font);
            for (int i = page.change_first; i < page.change_first + page.change_count; ++i) {
                p.drawText(
                    QRectF(pad, y, page_w - 2 * pad, row_h), Qt::AlignVCenter | Qt::AlignLeft,
                    cell_m.elidedText(header.changes.at(i), Qt::ElideRight, page_w - 2 * pad));
                y += row_h;
            }
        }
        if (page.tail) {
            p.setFont(totals_head_font);
            p.drawText(QRectF(0, y + 3 * mm, page_w, 6 * mm), Qt::AlignLeft | Qt::AlignVCenter,
                       QStringLiteral("Totaux"));
            p.setFont(totals_font);
            draw_lines(totals_lines, 0, y + 9 * mm, page_w, totals_m.lineSpacing());
            y += 9 * mm + totals_h + 4 * mm;
            p.setFont(sign_font);
            const qreal box_w = page_w / 2 - 5 * mm;
            for (int i = 0; i < 2; ++i) {
                const QRectF box(i * (box_w + 10 * mm), y, box_w, sign_h);
                p.drawRect(box);
                p.drawText(box.adjusted(pad, pad, -pad, -pad), Qt::AlignLeft | Qt::AlignTop,
                           i == 0 ? QStringLiteral("Le technicien : nom, date et signature")
                                  : QStringLiteral("Pour le client : nom, date et signature"));
            }
        }
        footer(n + 1);
    }
    p.end();
    return out.data();
}
