#include "app/report.h"

#include <QBuffer>
#include <QPainter>
#include <QPdfWriter>
#include <functional>

using namespace column;

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
    const double mm = pdf.resolution() / 25.4;
    const QRect page(0, 0, pdf.width(), pdf.height());
    const auto font = [&p](double pt, bool bold) {
        QFont f(QStringLiteral("Liberation Sans"));
        f.setPointSizeF(pt);
        f.setBold(bold);
        p.setFont(f);
    };

    // What the table shows of each row, and the share of the width each column takes.
    struct Shown {
        QString title;
        double share;
        std::function<QString(const QStringList&)> cell;
    };
    const auto col = [](int c) { return [c](const QStringList& r) { return r.value(c); }; };
    const QList<Shown> shown = {
        {QStringLiteral("Adr."), 0.05, col(Address)},
        {QStringLiteral("Type"), 0.09, col(Type)},
        {QStringLiteral("PCB / logiciel"), 0.10,
         [](const QStringList& r) {
             return r[Pcb].isEmpty() && r[Soft].isEmpty() ? QString() : r[Pcb] + " / " + r[Soft];
         }},
        {QString::fromUtf8("N° série"), 0.09, col(Serial)},
        {QStringLiteral("Mode"), 0.12, col(Mode)},
        {QStringLiteral("Lieu"), 0.18, col(Location)},
        {QStringLiteral("Comparaison"), 0.11, col(Comparison)},
        {QStringLiteral("Lecture"), 0.08, col(Readout_Col)},
        {QStringLiteral("Essai"), 0.07, col(Walk_Test)},
        {QString::fromUtf8("Al. / déf. / com"), 0.11,
         [](const QStringList& r) {
             return r[Alarms].isEmpty()
                        ? QString()
                        : r[Alarms] + " / " + r[Point_Faults] + " / " + r[Com_Faults];
         }},
    };

    const int row_h = int(6 * mm);
    const int pad = int(1.2 * mm);
    const int sign_h = int(38 * mm);
    int y = 0;
    int page_no = 1;

    const auto table_head = [&] {
        font(8.5, true);
        p.fillRect(QRect(0, y, page.width(), row_h), QColor(220, 220, 220));
        int x = 0;
        for (const Shown& s : shown) {
            const int w = int(s.share * page.width());
            p.drawText(QRect(x + pad, y, w - 2 * pad, row_h), Qt::AlignVCenter | Qt::AlignLeft,
                       p.fontMetrics().elidedText(s.title, Qt::ElideRight, w - 2 * pad));
            x += w;
        }
        y += row_h;
        font(8.5, false);
    };
    const auto footer = [&] {
        font(7.5, false);
        p.drawText(QRect(0, page.height() - int(5 * mm), page.width(), int(5 * mm)),
                   Qt::AlignRight | Qt::AlignBottom,
                   QStringLiteral("%1 — %2 — page %3")
                       .arg(header.site, header.when.toString(QStringLiteral("dd/MM/yyyy HH:mm")))
                       .arg(page_no));
    };
    const auto new_page = [&] {
        footer();
        pdf.newPage();
        ++page_no;
        y = 0;
    };

    // The header block.
    font(15, true);
    p.drawText(QRect(0, y, page.width(), int(9 * mm)), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("Rapport de mise en service de boucle"));
    y += int(11 * mm);
    font(10, false);
    const QStringList facts = {
        QStringLiteral("Site : %1").arg(header.site),
        QStringLiteral("Boucle : %1").arg(header.loop),
        QStringLiteral("Technicien : %1").arg(header.engineer),
        QStringLiteral("Date : %1").arg(header.when.toString(QStringLiteral("dd/MM/yyyy HH:mm"))),
        QStringLiteral("Interface : version %1").arg(header.interface_version),
        QStringLiteral("Port : %1").arg(header.port)};
    for (int i = 0; i < facts.size(); ++i)
        p.drawText(QRect((i % 2) * page.width() / 2, y + (i / 2) * int(5.5 * mm), page.width() / 2,
                         int(5.5 * mm)),
                   Qt::AlignLeft | Qt::AlignVCenter, facts.at(i));
    y += 3 * int(5.5 * mm) + int(4 * mm);

    table_head();
    for (int r = 0; r < rows.size(); ++r) {
        if (y + row_h > page.height() - int(7 * mm)) {
            new_page();
            table_head();
        }
        if (r % 2) p.fillRect(QRect(0, y, page.width(), row_h), QColor(245, 245, 245));
        int x = 0;
        for (const Shown& s : shown) {
            const int w = int(s.share * page.width());
            const QString text =
                p.fontMetrics().elidedText(s.cell(rows.at(r)), Qt::ElideRight, w - 2 * pad);
            p.drawText(QRect(x + pad, y, w - 2 * pad, row_h), Qt::AlignVCenter | Qt::AlignLeft,
                       text);
            x += w;
        }
        y += row_h;
    }
    p.setPen(QPen(Qt::black, 0.2 * mm));
    p.drawLine(0, y, page.width(), y);

    // Totals, then the signatures, on a new page when they do not fit under the table.
    if (y + int(21 * mm) + sign_h > page.height() - int(7 * mm)) new_page();
    font(10, true);
    p.drawText(QRect(0, y + int(3 * mm), page.width(), int(6 * mm)), Qt::AlignLeft,
               QStringLiteral("Totaux"));
    font(10, false);
    const QRect t_box(0, y + int(9 * mm), page.width(), int(12 * mm));
    p.drawText(t_box, Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, totals);
    y = t_box.bottom() + int(4 * mm);
    font(9.5, true);
    const int box_w = page.width() / 2 - int(5 * mm);
    for (int i = 0; i < 2; ++i) {
        const QRect box(i * (box_w + int(10 * mm)), y, box_w, sign_h - int(6 * mm));
        p.drawRect(box);
        p.drawText(box.adjusted(pad, pad, -pad, -pad), Qt::AlignLeft | Qt::AlignTop,
                   i == 0 ? QStringLiteral("Le technicien : nom, date et signature")
                          : QStringLiteral("Pour le client : nom, date et signature"));
    }
    footer();
    p.end();
    return out.data();
}
