#include "app/cli/cli_options.h"

#include "app/command_line.h"

#include <QRegularExpression>

const char Cli_Usage_Text[] =
    "Usage : kalvenor-cli [--port COMn|CHEMIN] [--phase 1|2] [--trace FICHIER] [--json]\n"
    "                    [--site FICHIER [--loop B] [--engineer T]] COMMANDE\n"
    "Commandes :\n"
    "  probe                     version de la carte d'interface, court-circuit\n"
    "  search                    adresses trouvées et leurs types\n"
    "  read N|all                identité et paramètres (recherche d'abord si besoin)\n"
    "  watch                     simulation de la centrale, une ligne par changement, jusqu'à "
    "Ctrl+C\n"
    "  report --csv|--json|--pdf FICHIER [--site S] [--loop B] [--engineer T] [--plan CSV]\n"
    "                            recherche, lecture de tous, puis le rapport\n"
    "  report ... --visit N      le rapport de la visite N du fichier de site, sans le port\n"
    "  visits                    les visites du fichier de site (--site)\n"
    "  compare [--visit N] [--with RAPPORT.json]\n"
    "                            ce qui a changé depuis la visite précédente de la boucle, ou\n"
    "                            depuis un rapport JSON de l'outil écrit ailleurs\n"
    "  ports                     les adaptateurs série branchés (nom stable, pilote, fabricant,\n"
    "                            identifiants USB, occupé ou libre), sans ouvrir de port\n"
    "Avec --site, chaque commande enregistre ce qu'elle apprend dans le fichier de site (créé\n"
    "s'il n'existe pas), comme une visite de la boucle B par le technicien T.\n"
    "Sans --port, le port de Kalvenor-2.cfg du dossier courant. Une option prend sa valeur\n"
    "après un espace ou un « = ». --version affiche la version.\n"
    "Codes de sortie : 0 fait, 1 rapport impossible à écrire ou fichier de site inutilisable,\n"
    "2 usage incorrect ou liste prévue illisible, 3 port inutilisable ou perdu, 4 aucune carte\n"
    "ne répond ou elle ne répond plus, 5 recherche interrompue (rien n'est écrit), 6 aucun\n"
    "détecteur à l'adresse demandée (watch : aucun trouvé ; compare : pas de visite antérieure),\n"
    "7 lecture incomplète (le rapport est écrit et le dit), 130 interrompu (sauf watch, qui finit\n"
    "ainsi avec 0).\n";

namespace {

// A visit's number: decimal digits, from 1.
QString visit_number(const QString& text, qint64* visit) {
    static const QRegularExpression digits(QStringLiteral("^[1-9][0-9]{0,9}$"));
    if (!digits.match(text).hasMatch())
        return QString::fromUtf8("--visit attend un numéro de visite, pas « %1 »").arg(text);
    *visit = text.toLongLong();
    return {};
}

} // namespace

Cli_Options parse_cli_options(const QStringList& args) {
    Cli_Options o;
    QString& error = o.error;
    const Read_Options r =
        read_options(args, {{"--port", "--phase", "--trace", "--site", "--loop", "--engineer"},
                            {"--json", "--help", "-h", "--version"}});
    error = r.error;
    o.json = r.has("--json");
    o.help = r.has("--help") || r.has("-h");
    o.version = r.has("--version");
    o.port_given = r.has("--port");
    o.port = r.value("--port");
    o.trace = r.value("--trace");
    o.site_file = r.value("--site");
    o.loop = r.value("--loop");
    o.engineer = r.value("--engineer");
    if (r.has("--phase")) {
        o.phase = r.value("--phase") == "1" ? 1 : r.value("--phase") == "2" ? 2 : 0;
        if (!o.phase && error.isEmpty())
            error = QString::fromUtf8("--phase attend 1 ou 2, pas « %1 »").arg(r.value("--phase"));
    }
    if (o.port_given && error.isEmpty()) {
        int number = 0;
        QString path;
        if (!parse_port(o.port, &number, &path)) error = port_error(o.port);
    }
    if (!error.isEmpty() || o.help || o.version) return o;

    o.command = r.rest.value(0);
    const QStringList rest = r.rest.mid(1);
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
        const Read_Options p = read_options(rest, {{"--csv", "--json", "--pdf", "--site", "--loop",
                                                    "--engineer", "--plan", "--visit"},
                                                   {}});
        error = p.error;
        QStringList kinds;
        for (const char* kind : {"--csv", "--json", "--pdf"})
            if (p.has(kind)) kinds << QLatin1String(kind);
        if (error.isEmpty() && !p.rest.isEmpty())
            error = QString::fromUtf8("argument de trop : %1").arg(p.rest.first());
        else if (error.isEmpty() && kinds.size() != 1)
            error = kinds.isEmpty()
                        ? QString::fromUtf8("report attend --csv, --json ou --pdf et un fichier")
                        : QString::fromUtf8("un seul rapport à la fois, pas %1")
                              .arg(kinds.join(QStringLiteral(" et ")));
        o.report_kind = kinds.value(0);
        o.report_file = p.values.value(o.report_kind);
        o.site = p.value("--site");
        if (p.has("--loop")) o.loop = p.value("--loop");
        if (p.has("--engineer")) o.engineer = p.value("--engineer");
        o.plan = p.value("--plan");
        if (error.isEmpty() && p.has("--visit")) error = visit_number(p.value("--visit"), &o.visit);
        if (error.isEmpty() && o.visit && o.site_file.isEmpty())
            error = QString::fromUtf8("report --visit attend --site FICHIER");
    } else if (o.command == QLatin1String("compare")) {
        const Read_Options p = read_options(rest, {{"--visit", "--with"}, {}});
        error = p.error;
        o.against = p.value("--with");
        if (error.isEmpty() && !p.rest.isEmpty())
            error = QString::fromUtf8("argument de trop : %1").arg(p.rest.first());
        else if (error.isEmpty() && p.has("--visit"))
            error = visit_number(p.value("--visit"), &o.visit);
        if (error.isEmpty() && o.site_file.isEmpty())
            error = QString::fromUtf8("compare attend --site FICHIER");
    } else if (QStringList{"probe", "search", "watch", "visits", "ports"}.contains(o.command)) {
        if (!rest.isEmpty()) error = QString::fromUtf8("argument de trop : %1").arg(rest.at(0));
        if (error.isEmpty() && o.command == QLatin1String("visits") && o.site_file.isEmpty())
            error = QString::fromUtf8("visits attend --site FICHIER");
    } else {
        error = QString::fromUtf8("commande inconnue : %1").arg(o.command);
    }
    return o;
}
