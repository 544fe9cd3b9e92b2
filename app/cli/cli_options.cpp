#include "app/cli/cli_options.h"

#include <QRegularExpression>

const char Cli_Usage_Text[] =
    "Usage : kalvenor-cli [--port COMn|CHEMIN] [--phase 1|2] [--trace FICHIER] [--json] COMMANDE\n"
    "Commandes :\n"
    "  probe                     version de la carte d'interface, court-circuit\n"
    "  search                    adresses trouvées et leurs types\n"
    "  read N|all                identité et paramètres (recherche d'abord si besoin)\n"
    "  watch                     simulation de la centrale, une ligne par changement, jusqu'à "
    "Ctrl+C\n"
    "  report --csv|--json|--pdf FICHIER [--site S] [--loop B] [--engineer T] [--plan CSV]\n"
    "                            recherche, lecture de tous, puis le rapport\n"
    "Sans --port, le port de Kalvenor-2.cfg du dossier courant. Une option prend sa valeur\n"
    "après un espace ou un « = ». --version affiche la version.\n"
    "Codes de sortie : 0 fait, 1 rapport impossible à écrire, 2 usage incorrect ou liste\n"
    "prévue illisible, 3 port inutilisable ou perdu, 4 aucune carte ne répond ou elle ne\n"
    "répond plus, 5 recherche interrompue (rien n'est écrit), 6 aucun détecteur à l'adresse\n"
    "demandée, 7 lecture incomplète (le rapport est écrit et le dit), 130 interrompu (sauf\n"
    "watch, qui finit ainsi avec 0).\n";

namespace {

// "--name value" or "--name=value": the value, or an error when there is none.
bool take_value(const QString& arg, const QStringList& args, int* i, QString* name, QString* value,
                QString* error) {
    const int eq = arg.indexOf(QLatin1Char('='));
    *name = eq > 0 ? arg.left(eq) : arg;
    if (eq > 0)
        *value = arg.mid(eq + 1);
    else if (*i + 1 < args.size())
        *value = args.at(++*i);
    else
        value->clear();
    if (value->isEmpty()) *error = QString::fromUtf8("%1 attend une valeur").arg(*name);
    return error->isEmpty();
}

} // namespace

Cli_Options parse_cli_options(const QStringList& args) {
    Cli_Options o;
    QString& error = o.error;
    int i = 0;
    for (; i < args.size() && args.at(i).startsWith(QLatin1Char('-')) && error.isEmpty(); ++i) {
        const QString arg = args.at(i);
        if (arg == QLatin1String("--json")) {
            o.json = true;
        } else if (arg == QLatin1String("--help") || arg == QLatin1String("-h")) {
            o.help = true;
        } else if (arg == QLatin1String("--version")) {
            o.version = true;
        } else if (arg.startsWith(QLatin1String("--port")) ||
                   arg.startsWith(QLatin1String("--phase")) ||
                   arg.startsWith(QLatin1String("--trace"))) {
            QString name, value;
            if (!take_value(arg, args, &i, &name, &value, &error)) break;
            if (name == QLatin1String("--port")) {
                o.port = value;
                o.port_given = true;
            } else if (name == QLatin1String("--trace")) {
                o.trace = value;
            } else if (name == QLatin1String("--phase") && (value == "1" || value == "2")) {
                o.phase = value.toInt();
            } else {
                error = name == QLatin1String("--phase")
                            ? QString::fromUtf8("--phase attend 1 ou 2, pas « %1 »").arg(value)
                            : QString::fromUtf8("option inconnue : %1").arg(arg);
            }
        } else {
            error = QString::fromUtf8("option inconnue : %1").arg(arg);
        }
    }
    if (!error.isEmpty() || o.help || o.version) return o;

    o.command = args.value(i++);
    const QStringList rest = args.mid(i);
    if (o.command.isEmpty()) {
        error = QString::fromUtf8("commande manquante");
    } else if (o.command == QLatin1String("read")) {
        // An address is written in decimal digits, nothing else: "0x05", "5.0" or "" are not
        // taken for something they are not.
        static const QRegularExpression digits(QStringLiteral("^[0-9]{1,3}$"));
        const QString a = rest.value(0);
        const int n = digits.match(a).hasMatch() ? a.toInt() : -1;
        o.address = a == QLatin1String("all") ? 0 : n >= 1 && n <= 128 ? n : -1;
        if (rest.size() > 1)
            error = QString::fromUtf8("argument de trop : %1").arg(rest.at(1));
        else if (o.address < 0)
            error =
                QString::fromUtf8("read attend un numéro de 1 à 128, ou all, pas « %1 »").arg(a);
    } else if (o.command == QLatin1String("report")) {
        for (int k = 0; k < rest.size() && error.isEmpty(); ++k) {
            QString name, value;
            if (!rest.at(k).startsWith(QLatin1String("--"))) {
                error = QString::fromUtf8("argument de trop : %1").arg(rest.at(k));
                break;
            }
            if (!take_value(rest.at(k), rest, &k, &name, &value, &error)) break;
            if (name == "--csv" || name == "--json" || name == "--pdf") {
                if (!o.report_kind.isEmpty())
                    error = QString::fromUtf8("un seul rapport à la fois : %1 ou %2")
                                .arg(o.report_kind, name);
                o.report_kind = name;
                o.report_file = value;
            } else if (name == QLatin1String("--site")) {
                o.site = value;
            } else if (name == QLatin1String("--loop")) {
                o.loop = value;
            } else if (name == QLatin1String("--engineer")) {
                o.engineer = value;
            } else if (name == QLatin1String("--plan")) {
                o.plan = value;
            } else {
                error = QString::fromUtf8("option de report inconnue : %1").arg(name);
            }
        }
        if (error.isEmpty() && o.report_kind.isEmpty())
            error = QString::fromUtf8("report attend --csv, --json ou --pdf et un fichier");
    } else if (QStringList{"probe", "search", "watch"}.contains(o.command)) {
        if (!rest.isEmpty()) error = QString::fromUtf8("argument de trop : %1").arg(rest.at(0));
    } else {
        error = QString::fromUtf8("commande inconnue : %1").arg(o.command);
    }
    return o;
}
