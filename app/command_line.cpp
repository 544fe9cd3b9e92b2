#include "app/command_line.h"

#include <QRegularExpression>

#ifndef KAL_VERSION
#define KAL_VERSION "2.5"
#endif

bool parse_port(const QString& text, int* number, QString* path) {
    static const QRegularExpression com(QStringLiteral("^COM(\\d{1,2})$"),
                                        QRegularExpression::CaseInsensitiveOption);
    const auto m = com.match(text);
    const int n = m.hasMatch() ? m.captured(1).toInt() : 0;
    *number = n >= 1 && n <= 16 ? n : 0;
    *path = m.hasMatch() || !text.contains(QLatin1Char('/')) ? QString() : text;
    return *number != 0 || !path->isEmpty();
}

namespace {

// Qt's own options (-platform offscreen, -style fusion...), which the application object takes:
// the number of arguments each spans, or 0 for any other.
int qt_option_span(const QString& arg) {
    static const QStringList with_value = {
        "platform",        "platformpluginpath", "platformtheme", "plugin",
        "qwindowgeometry", "qwindowicon",        "qwindowtitle",  "session",
        "style",           "stylesheet",         "display",       "geometry"};
    static const QStringList flags = {"reverse", "widgetcount", "nograb", "dograb", "sync"};
    if (!arg.startsWith(QLatin1Char('-')) || arg == QLatin1String("-h")) return 0;
    const QString name = arg.mid(arg.startsWith(QLatin1String("--")) ? 2 : 1);
    if (name.startsWith(QLatin1String("qmljsdebugger=")) || flags.contains(name)) return 1;
    return with_value.contains(name) ? 2 : 0;
}

} // namespace

QString port_error(const QString& value) {
    return QString::fromUtf8("--port attend COM1 à COM16 ou le chemin d'un périphérique "
                             "(/dev/ttyUSB0), pas « %1 »")
        .arg(value);
}

Read_Options read_options(const QStringList& args, const Option_Set& set, bool skip_qt) {
    Read_Options r;
    int i = 0;
    for (; i < args.size() && r.error.isEmpty(); ++i) {
        if (const int span = skip_qt ? qt_option_span(args.at(i)) : 0) {
            i += span - 1;
            continue;
        }
        QString name = args.at(i);
        if (!name.startsWith(QLatin1Char('-'))) break;
        const int eq = name.indexOf(QLatin1Char('='));
        QString value;
        if (eq > 0) {
            value = name.mid(eq + 1);
            name.truncate(eq);
        }
        if (set.flags.contains(name) && eq < 0) {
            r.values.insert(name, QString());
        } else if (set.with_value.contains(name)) {
            if (eq < 0 && i + 1 < args.size()) value = args.at(++i);
            if (value.isEmpty())
                r.error = QString::fromUtf8("l'option %1 attend une valeur").arg(name);
            r.values.insert(name, value);
        } else {
            r.error = QString::fromUtf8("option inconnue : %1").arg(args.at(i));
        }
    }
    if (r.error.isEmpty()) r.rest = args.mid(i);
    return r;
}

Command_Line parse_command_line(const QStringList& args) {
    const Read_Options r = read_options(
        args, {{"--port", "--trace"}, {"--help", "-h", "--version", "--list-ports", "--last-site"}},
        true);
    Command_Line c;
    c.error = r.error;
    c.site = r.rest.value(0);
    if (c.error.isEmpty() && r.rest.size() == 1 && c.site.isEmpty())
        c.error = QString::fromUtf8("le nom du fichier de site est vide");
    else if (c.error.isEmpty() && r.rest.size() > 1)
        c.error = r.rest.at(1).startsWith(QLatin1Char('-'))
                      ? QString::fromUtf8("les options viennent avant le fichier de site : %1")
                            .arg(r.rest.at(1))
                      : QString::fromUtf8("un seul fichier de site à la fois : « %1 » en trop")
                            .arg(r.rest.at(1));
    c.help = r.has("--help") || r.has("-h");
    c.version = r.has("--version");
    c.list_ports = r.has("--list-ports");
    c.last_site = r.has("--last-site");
    if (c.last_site && !c.site.isEmpty() && c.error.isEmpty())
        c.error = QString::fromUtf8("--last-site ou un fichier de site, pas les deux");
    c.trace = r.value("--trace");
    if (r.has("--port") && !parse_port(r.value("--port"), &c.port_number, &c.port_path) &&
        c.error.isEmpty())
        c.error = port_error(r.value("--port"));
    return c;
}

QString version_text(const QString& program) {
    return program + QStringLiteral(" " KAL_VERSION);
}

QString usage_text() {
    return QString::fromUtf8(
        "Usage : kalvenor [OPTION]... [SITE.kalsite]\n"
        "Outil de mise en service d'une boucle de détection incendie adressable.\n"
        "\n"
        "  --port COMn|CHEMIN  port de cette séance seulement (COM1 à COM16, ou le chemin\n"
        "                      du périphérique, /dev/ttyUSB0) ; le fichier Kalvenor-2.cfg\n"
        "                      garde le sien\n"
        "  --trace FICHIER     enregistre la ligne série dans FICHIER dès le démarrage\n"
        "  --last-site         ouvre le dernier fichier de site ouvert\n"
        "  --list-ports        liste les ports série trouvés et s'arrête\n"
        "  --version           affiche la version et s'arrête\n"
        "  -h, --help          affiche cette aide et s'arrête\n"
        "\n"
        "SITE.kalsite, un fichier de site, est ouvert dès que la fenêtre s'affiche, comme par\n"
        "« Ouvrir un site... » : la boucle et le technicien sont demandés, puis la visite y\n"
        "est enregistrée.\n"
        "\n"
        "Sans option, le port et le protocole sont ceux de Kalvenor-2.cfg dans le dossier\n"
        "courant. Code de sortie : 0 fin normale, 2 option incorrecte.\n");
}
