#include "app/site_file.h"

#include "link/regular_file.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QVariant>
#include <atomic>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace site {
namespace {

// The first 100 bytes of an SQLite database: its magic, then, big-endian, the user version at
// 60 and the application id at 68. Read before SQLite is let near the file.
constexpr int Header_Size = 100;
const QByteArray Magic("SQLite format 3\0", 16);

quint32 header_word(const QByteArray& head, int at) {
    const auto* b = reinterpret_cast<const uchar*>(head.constData() + at);
    return quint32(b[0]) << 24 | quint32(b[1]) << 16 | quint32(b[2]) << 8 | quint32(b[3]);
}

QString newer(int schema) {
    return QString::fromUtf8("écrit par une version plus récente du programme (schéma %1, celle-ci "
                             "lit jusqu'au %2)")
        .arg(schema)
        .arg(Schema_Version);
}

QString in_file(const QString& path, const QString& why) {
    return QStringLiteral("%1 : %2").arg(QDir::toNativeSeparators(path), why);
}

// Writable by us, and meant to be: root may write anywhere, but a file whose write bits are all
// off was made read-only on purpose.
bool writable(const QFileInfo& info) {
    return info.isWritable() &&
           (info.permissions() & (QFile::WriteOwner | QFile::WriteGroup | QFile::WriteOther));
}

QVariant iso(const QDateTime& t) {
    return t.isValid() ? QVariant(t.toUTC().toString(Qt::ISODateWithMs)) : QVariant();
}

QDateTime from_iso(const QVariant& v) {
    return QDateTime::fromString(v.toString(), Qt::ISODateWithMs).toLocalTime();
}

// Qt binds a null string as NULL: text columns take the empty string instead.
QVariant text(const QString& s) {
    return s.isNull() ? QVariant(QStringLiteral("")) : QVariant(s);
}

QVariant known(int value) {
    return value >= 0 ? QVariant(value) : QVariant();
}

QString readout_word(record::Readout r) {
    switch (r) {
    case record::Readout::Complete:
        return QStringLiteral("complete");
    case record::Readout::Partial:
        return QStringLiteral("partial");
    case record::Readout::Failed:
        return QStringLiteral("failed");
    case record::Readout::None:
        break;
    }
    return {};
}

// Version 1. Times are UTC in ISO 8601 with milliseconds; a fact not learned is NULL.
const char* const Schema[] = {
    "CREATE TABLE site (id INTEGER PRIMARY KEY CHECK (id = 1), name TEXT NOT NULL, "
    "created TEXT NOT NULL)",
    "CREATE TABLE loops (id INTEGER PRIMARY KEY, name TEXT NOT NULL UNIQUE)",
    "CREATE TABLE planned (loop INTEGER NOT NULL REFERENCES loops(id), address INTEGER NOT NULL "
    "CHECK (address BETWEEN 1 AND 128), type_text TEXT NOT NULL, location TEXT NOT NULL, "
    "PRIMARY KEY (loop, address))",
    "CREATE TABLE visits (id INTEGER PRIMARY KEY, loop INTEGER NOT NULL REFERENCES loops(id), "
    "started TEXT NOT NULL, engineer TEXT NOT NULL)",
    "CREATE TABLE detectors (visit INTEGER NOT NULL REFERENCES visits(id), address INTEGER NOT "
    "NULL CHECK (address BETWEEN 1 AND 128), found INTEGER NOT NULL, found_at TEXT, type_code "
    "INTEGER, type_name TEXT, pcb_version INTEGER, soft_version INTEGER, serial TEXT, readout "
    "TEXT, readout_at TEXT, alarms INTEGER NOT NULL, point_faults INTEGER NOT NULL, com_faults "
    "INTEGER NOT NULL, tested INTEGER NOT NULL, led_seen INTEGER NOT NULL, PRIMARY KEY (visit, "
    "address))",
    "CREATE TABLE params (visit INTEGER NOT NULL REFERENCES visits(id), address INTEGER NOT NULL, "
    "code INTEGER NOT NULL, value INTEGER NOT NULL, PRIMARY KEY (visit, address, code))",
    "CREATE TABLE events (id INTEGER PRIMARY KEY, visit INTEGER NOT NULL REFERENCES visits(id), "
    "at TEXT NOT NULL, address INTEGER NOT NULL, text TEXT NOT NULL)",
    "CREATE INDEX events_of_visit ON events (visit, id)",
    "CREATE TABLE searches (visit INTEGER NOT NULL REFERENCES visits(id), at TEXT NOT NULL, "
    "searched_to INTEGER NOT NULL, found INTEGER NOT NULL, stop TEXT NOT NULL)",
    "CREATE TABLE mode_writes (visit INTEGER NOT NULL REFERENCES visits(id), at TEXT NOT NULL, "
    "address INTEGER NOT NULL, before INTEGER, after INTEGER, written INTEGER NOT NULL, accepted "
    "INTEGER NOT NULL)",
    "CREATE TABLE silences (visit INTEGER NOT NULL REFERENCES visits(id), started TEXT NOT NULL, "
    "ended TEXT, port_lost INTEGER NOT NULL, PRIMARY KEY (visit, started))",
    "CREATE TABLE reports (visit INTEGER NOT NULL REFERENCES visits(id), at TEXT NOT NULL, name "
    "TEXT NOT NULL)",
};

// Version 2: the board and port of each visit, and what became of a visit that was carried on
// elsewhere (a session taken up again, or handed to a site). A new file is made as version 1,
// then upgraded, so the upgrade path is the one every file takes.
const char* const Upgrade_2[] = {
    "ALTER TABLE visits ADD COLUMN board TEXT",
    "ALTER TABLE visits ADD COLUMN port TEXT",
    "ALTER TABLE visits ADD COLUMN handed_to TEXT",
    "CREATE INDEX IF NOT EXISTS reports_of_visit ON reports (visit)",
};

std::atomic<int> connections{0};

} // namespace

File::File(const QString& path)
    : path_(path), connection_(QStringLiteral("site-%1").arg(++connections)) {}

File::~File() {
    if (QSqlDatabase::contains(connection_)) {
        QSqlDatabase::database(connection_, false).close();
        QSqlDatabase::removeDatabase(connection_);
    }
#ifdef Q_OS_UNIX
    if (lock_fd_ >= 0) ::close(lock_fd_);
#endif
}

// Holds the file for this instance: a second one, on this machine or another that shares the
// folder, is told so instead of mixing its visits in.
bool File::connect_database(QString* why, bool* busy) {
#ifdef Q_OS_UNIX
    lock_fd_ = ::open(QFile::encodeName(path_).constData(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    struct stat st {};
    if (lock_fd_ < 0 || ::fstat(lock_fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
        *why = in_file(path_, QString::fromUtf8("ne peut pas être ouvert en écriture"));
        return false;
    }
    if (::flock(lock_fd_, LOCK_EX | LOCK_NB) != 0) {
        if (busy) *busy = errno == EWOULDBLOCK;
        *why = in_file(path_, errno == EWOULDBLOCK
                                  ? QString::fromUtf8("déjà ouvert par une autre instance du "
                                                      "programme")
                                  : QString::fromUtf8("ne peut pas être verrouillé"));
        return false;
    }
#endif
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection_);
    db.setDatabaseName(path_);
    db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=2000"));
    if (!db.open()) {
        *why = in_file(path_, db.lastError().text());
        return false;
    }
    // Each commit reaches the disk before the next fact is taken: a power cut loses at most the
    // batch under way.
    QSqlQuery(db).exec(QStringLiteral("PRAGMA synchronous = FULL"));
    return true;
}

bool File::exec(const QString& sql) {
    QSqlQuery q(QSqlDatabase::database(connection_, false));
    if (q.exec(sql)) return true;
    error_ = q.lastError().text();
    return false;
}

namespace {

// The file a new site starts as: the mark, the version, the empty tables and the site's row,
// in WAL mode. Made whole in a scratch folder, so that what takes the site's name is complete.
QByteArray initial_database(const QString& site_name, QString* why) {
    QTemporaryDir scratch;
    const QString path = scratch.filePath(QStringLiteral("new.kalsite"));
    const QString connection = QStringLiteral("site-new-%1").arg(++connections);
    bool ok = scratch.isValid();
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
        db.setDatabaseName(path);
        QSqlQuery q(db);
        const auto exec = [&](const QString& sql) { return q.exec(sql); };
        ok = ok && db.open() &&
             exec(QStringLiteral("PRAGMA application_id = %1").arg(Application_Id)) &&
             exec(QStringLiteral("BEGIN IMMEDIATE"));
        for (const char* sql : Schema)
            ok = ok && exec(QString::fromLatin1(sql));
        // The steps an older file takes on opening, so that every file has gone the same way.
        for (const char* sql : Upgrade_2)
            ok = ok && exec(QString::fromLatin1(sql));
        ok = ok &&
             q.prepare(QStringLiteral("INSERT INTO site (id, name, created) VALUES (1, ?, ?)"));
        q.addBindValue(text(site_name));
        q.addBindValue(iso(QDateTime::currentDateTime()));
        ok = ok && q.exec() &&
             exec(QStringLiteral("PRAGMA user_version = %1").arg(Schema_Version)) &&
             exec(QStringLiteral("COMMIT")) && exec(QStringLiteral("PRAGMA journal_mode = WAL"));
        if (!ok) *why = db.isOpen() ? q.lastError().text() : db.lastError().text();
        q.finish();
        db.close();
    }
    QSqlDatabase::removeDatabase(connection);
    QByteArray content;
    // Closed, the database holds everything in itself: its log is emptied into it and removed.
    ok = ok && read_regular_file(path, 1 << 20, &content) == Read_Result::Done;
    if (!ok && why->isEmpty())
        *why = QString::fromUtf8("base neuve impossible à préparer dans %1")
                   .arg(QDir::toNativeSeparators(QDir::tempPath()));
    return ok ? content : QByteArray();
}

} // namespace

std::unique_ptr<File> File::create(const QString& path, const QString& site_name, QString* why) {
    // Made whole elsewhere, then given its name in one step that never replaces anything: a
    // process killed meanwhile leaves either no file or a complete one, never a beginning that
    // would be refused as damaged ever after.
    QString fault;
    const QByteArray content = initial_database(site_name, &fault);
    if (content.isEmpty()) {
        *why = in_file(path, fault);
        return nullptr;
    }
    // SQLite's files beside it that stand there already are not this call's to remove.
    QStringList made;
    for (const char* end : {"-wal", "-shm", "-journal"})
        if (!QFileInfo::exists(path + QLatin1String(end))) made << path + QLatin1String(end);
    if (const File_Fault f = create_new_file(path, content); f != File_Fault::None) {
        *why = in_file(path, file_fault_text(f));
        return nullptr;
    }
    std::unique_ptr<File> file(new File(path));
    if (file->connect_database(why)) return file;
    file.reset();
    // Only what this call made goes: it created the name new.
    for (const QString& name : made << path)
        QFile::remove(name);
    return nullptr;
}

std::unique_ptr<File> File::open(const QString& path, QString* why, bool* busy) {
    if (busy) *busy = false;
    QByteArray head;
    switch (read_regular_head(path, Header_Size, &head)) {
    case Read_Result::Done:
        break;
    case Read_Result::Missing:
        *why = in_file(path, QString::fromUtf8("fichier introuvable"));
        return nullptr;
    case Read_Result::Not_A_File:
        *why = in_file(path, QString::fromUtf8("ce n'est pas un fichier ordinaire"));
        return nullptr;
    default:
        *why = in_file(path, QString::fromUtf8("illisible (droits ?)"));
        return nullptr;
    }
    if (!head.startsWith(Magic)) {
        *why = in_file(path, QString::fromUtf8("ce n'est pas un fichier de site"));
        return nullptr;
    }
    if (head.size() < Header_Size) {
        *why = in_file(path, QString::fromUtf8("fichier de site tronqué"));
        return nullptr;
    }
    if (header_word(head, 68) != quint32(Application_Id)) {
        *why = in_file(path, QString::fromUtf8("base SQLite d'un autre programme, pas un fichier "
                                               "de site"));
        return nullptr;
    }
    const quint32 version = header_word(head, 60);
    if (version > quint32(Schema_Version)) {
        *why = in_file(path, newer(int(version)));
        return nullptr;
    }
    const QFileInfo info(path);
    if (!writable(info) || !writable(QFileInfo(info.absolutePath()))) {
        *why = in_file(path, QString::fromUtf8("en lecture seule (le fichier ou son dossier)"));
        return nullptr;
    }
    std::unique_ptr<File> file(new File(path));
    if (!file->connect_database(why, busy)) return nullptr;
    // The header may lag behind the log of a file closed by a crash: SQLite's word on the version,
    // the log included, is the one that counts.
    QSqlQuery check(QSqlDatabase::database(file->connection_, false));
    const int schema = check.exec(QStringLiteral("PRAGMA user_version")) && check.next()
                           ? check.value(0).toInt()
                           : 0;
    if (schema > Schema_Version) {
        *why = in_file(path, newer(schema));
        return nullptr;
    }
    if (schema < 1 || !check.exec(QStringLiteral("PRAGMA quick_check")) || !check.next() ||
        check.value(0).toString() != QLatin1String("ok")) {
        *why = in_file(path, QString::fromUtf8("fichier de site endommagé"));
        return nullptr;
    }
    if (!file->exec(QStringLiteral("PRAGMA journal_mode = WAL")) ||
        !file->exec(QStringLiteral("PRAGMA foreign_keys = ON"))) {
        *why = in_file(path, file->error_);
        return nullptr;
    }
    // An older file is brought to this version in one transaction: all of it or, on a full
    // disk, none, and the file stays as it was.
    if (schema < Schema_Version &&
        !(file->exec(QStringLiteral("BEGIN IMMEDIATE")) && file->upgrade_steps(schema) &&
          file->exec(QStringLiteral("PRAGMA user_version = %1").arg(Schema_Version)) &&
          file->exec(QStringLiteral("COMMIT")))) {
        *why = in_file(path, QString::fromUtf8("la mise à jour du fichier a échoué (%1) ; il est "
                                               "resté tel quel")
                                 .arg(file->error_));
        file->exec(QStringLiteral("ROLLBACK"));
        return nullptr;
    }
    return file;
}

bool File::upgrade_steps(int from) {
    bool ok = true;
    if (from < 2)
        for (const char* sql : Upgrade_2)
            ok = ok && exec(QString::fromLatin1(sql));
    return ok;
}

QString File::site_name() const {
    QSqlQuery q(QSqlDatabase::database(connection_, false));
    return q.exec(QStringLiteral("SELECT name FROM site")) && q.next() ? q.value(0).toString()
                                                                       : QString();
}

QStringList File::loops() const {
    QStringList names;
    QSqlQuery q(QSqlDatabase::database(connection_, false));
    if (q.exec(QStringLiteral("SELECT name FROM loops ORDER BY id")))
        while (q.next())
            names << q.value(0).toString();
    return names;
}

qint64 File::loop_id(const QString& name) {
    QSqlQuery q(QSqlDatabase::database(connection_, false));
    q.prepare(QStringLiteral("INSERT INTO loops (name) VALUES (?) ON CONFLICT (name) DO NOTHING"));
    q.addBindValue(text(name));
    if (!q.exec()) {
        error_ = q.lastError().text();
        return 0;
    }
    q.prepare(QStringLiteral("SELECT id FROM loops WHERE name = ?"));
    q.addBindValue(name);
    return q.exec() && q.next() ? q.value(0).toLongLong() : 0;
}

qint64 File::begin_visit(qint64 loop, const QString& engineer, const QDateTime& when) {
    QSqlQuery q(QSqlDatabase::database(connection_, false));
    q.prepare(QStringLiteral("INSERT INTO visits (loop, started, engineer) VALUES (?, ?, ?)"));
    q.addBindValue(loop);
    q.addBindValue(iso(when));
    q.addBindValue(text(engineer));
    if (q.exec()) return q.lastInsertId().toLongLong();
    error_ = q.lastError().text();
    return 0;
}

namespace {

// A visit with its loop's name and its counts, for the list and for one visit alike.
const char* const Visit_Columns =
    "SELECT v.id, l.name, v.engineer, v.started, "
    "(SELECT count(*) FROM detectors d WHERE d.visit = v.id AND d.found), "
    "(SELECT count(*) FROM detectors d WHERE d.visit = v.id AND d.readout = 'complete'), "
    "v.board, v.port, (SELECT count(*) FROM reports r WHERE r.visit = v.id), v.handed_to "
    "FROM visits v JOIN loops l ON l.id = v.loop ";

Visit visit_at(const QSqlQuery& q) {
    return {q.value(0).toLongLong(), q.value(1).toString(), q.value(2).toString(),
            from_iso(q.value(3)),    q.value(4).toInt(),    q.value(5).toInt(),
            q.value(6).toString(),   q.value(7).toString(), q.value(8).toInt(),
            q.value(9).toString()};
}

} // namespace

QList<Visit> File::visits() const {
    QList<Visit> out;
    QSqlQuery q(QSqlDatabase::database(connection_, false));
    if (!q.exec(QLatin1String(Visit_Columns) + QLatin1String("ORDER BY v.id"))) return out;
    while (q.next())
        out.append(visit_at(q));
    return out;
}

bool File::load_visit(qint64 id, Stored_Visit* out) const {
    // The one visit asked for, not the list of all of them: a site's years of visits would make
    // every opening and comparison slower.
    QSqlDatabase db = QSqlDatabase::database(connection_, false);
    QSqlQuery q(db);
    q.prepare(QLatin1String(Visit_Columns) + QLatin1String("WHERE v.id = ?"));
    q.addBindValue(id);
    if (!q.exec() || !q.next()) return false;
    *out = {};
    out->visit = visit_at(q);
    q.prepare(QStringLiteral(
        "SELECT address, found, found_at, type_code, type_name, pcb_version, soft_version, serial, "
        "readout, readout_at, alarms, point_faults, com_faults, tested, led_seen FROM detectors "
        "WHERE visit = ?"));
    q.addBindValue(id);
    if (!q.exec()) return false;
    const auto number = [&q](int column) {
        return q.isNull(column) ? -1 : q.value(column).toInt();
    };
    while (q.next()) {
        const int address = q.value(0).toInt();
        if (address < Loop_Record::First || address > Loop_Record::Last) continue;
        record::Detector& d = out->detectors[size_t(address - 1)];
        d.found = q.value(1).toBool();
        d.found_at = from_iso(q.value(2));
        d.type_code = number(3);
        d.type_name = q.value(4).toString();
        d.pcb_version = number(5);
        d.soft_version = number(6);
        d.serial = q.value(7).toString();
        const QString readout = q.value(8).toString();
        for (const record::Readout r :
             {record::Readout::Complete, record::Readout::Partial, record::Readout::Failed})
            if (readout == readout_word(r)) d.readout = r;
        d.readout_at = from_iso(q.value(9));
        d.alarms.count = q.value(10).toInt();
        d.point_faults.count = q.value(11).toInt();
        d.com_faults.count = q.value(12).toInt();
        d.tested = q.value(13).toBool();
        d.led_seen = q.value(14).toBool();
    }
    q.prepare(QStringLiteral("SELECT address, code, value FROM params WHERE visit = ?"));
    q.addBindValue(id);
    if (!q.exec()) return false;
    while (q.next()) {
        const int address = q.value(0).toInt();
        if (address >= Loop_Record::First && address <= Loop_Record::Last)
            out->detectors[size_t(address - 1)].params[uint8_t(q.value(1).toInt())] =
                uint8_t(q.value(2).toInt());
    }
    q.prepare(QStringLiteral("SELECT searched_to FROM searches WHERE visit = ? ORDER BY rowid DESC "
                             "LIMIT 1"));
    q.addBindValue(id);
    out->searched_to = q.exec() && q.next() ? q.value(0).toInt() : 0;
    out->planned = planned(id);
    return true;
}

qint64 File::previous_visit(qint64 id) const {
    QSqlQuery q(QSqlDatabase::database(connection_, false));
    q.prepare(QStringLiteral("SELECT max(id) FROM visits WHERE id < ? AND loop = (SELECT loop FROM "
                             "visits WHERE id = ?)"));
    q.addBindValue(id);
    q.addBindValue(id);
    return q.exec() && q.next() ? q.value(0).toLongLong() : 0;
}

QList<record::Event> File::events(qint64 visit) const {
    QList<record::Event> out;
    QSqlQuery q(QSqlDatabase::database(connection_, false));
    q.prepare(QStringLiteral("SELECT at, address, text FROM events WHERE visit = ? ORDER BY id"));
    q.addBindValue(visit);
    if (q.exec())
        while (q.next())
            out.append({from_iso(q.value(0)), q.value(1).toInt(), q.value(2).toString()});
    return out;
}

std::map<int, Planned_Loop::Entry> File::planned(qint64 visit) const {
    std::map<int, Planned_Loop::Entry> out;
    QSqlQuery q(QSqlDatabase::database(connection_, false));
    q.prepare(QStringLiteral("SELECT address, type_text, location FROM planned WHERE loop = "
                             "(SELECT loop FROM visits WHERE id = ?) ORDER BY address"));
    q.addBindValue(visit);
    if (q.exec())
        while (q.next()) {
            Planned_Loop::Entry e;
            e.type_text = q.value(1).toString();
            e.location = q.value(2).toString();
            out[q.value(0).toInt()] = e;
        }
    return out;
}

bool File::forget_empty_visits() {
    return drop_visits(QStringLiteral(
        "SELECT id FROM visits v WHERE NOT EXISTS (SELECT 1 FROM detectors d WHERE d.visit = "
        "v.id) AND NOT EXISTS (SELECT 1 FROM searches s WHERE s.visit = v.id) AND NOT EXISTS "
        "(SELECT 1 FROM reports r WHERE r.visit = v.id) AND NOT EXISTS (SELECT 1 FROM "
        "mode_writes w WHERE w.visit = v.id)"));
}

bool File::forget_old_visits(int keep_last) {
    return drop_visits(
        QStringLiteral("SELECT id FROM visits ORDER BY id DESC LIMIT -1 OFFSET %1").arg(keep_last));
}

// The visits `select` names go, with everything recorded in them, in one transaction.
bool File::drop_visits(const QString& select) {
    QSqlDatabase db = QSqlDatabase::database(connection_, false);
    bool ok =
        db.transaction() &&
        exec(QStringLiteral("CREATE TEMP TABLE IF NOT EXISTS gone (id INTEGER PRIMARY KEY)")) &&
        exec(QStringLiteral("DELETE FROM gone")) &&
        exec(QStringLiteral("INSERT INTO gone %1").arg(select));
    for (const char* table :
         {"detectors", "params", "events", "searches", "mode_writes", "silences", "reports"})
        ok = ok && exec(QStringLiteral("DELETE FROM %1 WHERE visit IN (SELECT id FROM gone)")
                            .arg(QLatin1String(table)));
    ok = ok && exec(QStringLiteral("DELETE FROM visits WHERE id IN (SELECT id FROM gone)"));
    if (ok && db.commit()) return true;
    db.rollback();
    return false;
}

bool File::insert(const QString& sql, const QVariantList& values) {
    QSqlQuery q(QSqlDatabase::database(connection_, false));
    bool ok = q.prepare(sql);
    for (const QVariant& v : values)
        q.addBindValue(v.typeId() == QMetaType::QString ? text(v.toString()) : v);
    ok = ok && q.exec();
    if (!ok) error_ = q.lastError().text();
    return ok;
}

bool File::save_detector(qint64 visit, int address, const record::Detector& d) {
    const bool blank = !d.found && d.type_code < 0 && d.readout == record::Readout::None &&
                       d.serial.isEmpty() && d.params.empty() && d.alarms.count == 0 &&
                       d.point_faults.count == 0 && d.com_faults.count == 0 && !d.led_seen;
    if (blank)
        return insert(QStringLiteral("DELETE FROM detectors WHERE visit = ? AND address = ?"),
                      {visit, address}) &&
               insert(QStringLiteral("DELETE FROM params WHERE visit = ? AND address = ?"),
                      {visit, address});
    const QString readout = readout_word(d.readout);
    bool ok = insert(
        QStringLiteral("INSERT OR REPLACE INTO detectors (visit, address, found, found_at, "
                       "type_code, type_name, pcb_version, soft_version, serial, readout, "
                       "readout_at, alarms, point_faults, com_faults, tested, led_seen) VALUES "
                       "(?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"),
        {visit, address, d.found, iso(d.found_at), known(d.type_code),
         d.type_code >= 0 ? QVariant(d.type_name) : QVariant(), known(d.pcb_version),
         known(d.soft_version), d.serial.isEmpty() ? QVariant() : QVariant(d.serial),
         readout.isEmpty() ? QVariant() : QVariant(readout), iso(d.readout_at), d.alarms.count,
         d.point_faults.count, d.com_faults.count, d.tested, d.led_seen});
    ok = ok && insert(QStringLiteral("DELETE FROM params WHERE visit = ? AND address = ?"),
                      {visit, address});
    for (const auto& [code, value] : d.params)
        ok = ok && insert(QStringLiteral("INSERT INTO params (visit, address, code, value) "
                                         "VALUES (?, ?, ?, ?)"),
                          {visit, address, int(code), int(value)});
    return ok;
}

bool File::write(qint64 visit, const Batch& b) {
    error_.clear();
    QSqlDatabase db = QSqlDatabase::database(connection_, false);
    bool ok = db.transaction();
    for (const auto& [address, d] : b.detectors)
        ok = ok && save_detector(visit, address, d);
    for (const record::Event& e : b.events)
        ok = ok && insert(QStringLiteral("INSERT INTO events (visit, at, address, text) VALUES "
                                         "(?, ?, ?, ?)"),
                          {visit, iso(e.at), e.address, e.text});
    for (const Batch::Search& s : b.searches)
        ok = ok && insert(QStringLiteral("INSERT INTO searches (visit, at, searched_to, found, "
                                         "stop) VALUES (?, ?, ?, ?, ?)"),
                          {visit, iso(s.at), s.searched_to, s.found, s.stop});
    for (const record::Mode_Write& w : b.mode_writes)
        ok = ok && insert(QStringLiteral("INSERT INTO mode_writes (visit, at, address, before, "
                                         "after, written, accepted) VALUES (?, ?, ?, ?, ?, ?, ?)"),
                          {visit, iso(w.at), w.address, known(w.before), known(w.after),
                           int(w.written), w.accepted});
    for (const record::Silence& s : b.silences)
        ok = ok && insert(QStringLiteral("INSERT OR REPLACE INTO silences (visit, started, ended, "
                                         "port_lost) VALUES (?, ?, ?, ?)"),
                          {visit, iso(s.from), iso(s.to), s.port_lost});
    for (const Batch::Report& r : b.reports)
        ok = ok && insert(QStringLiteral("INSERT INTO reports (visit, at, name) VALUES (?, ?, ?)"),
                          {visit, iso(r.at), r.name});
    if (!b.board.isEmpty() || !b.port.isEmpty())
        ok = ok && insert(QStringLiteral("UPDATE visits SET board = coalesce(?, board), port = "
                                         "coalesce(?, port) WHERE id = ?"),
                          {b.board.isEmpty() ? QVariant() : QVariant(b.board),
                           b.port.isEmpty() ? QVariant() : QVariant(b.port), visit});
    if (!b.handed_to.isEmpty())
        ok = ok && insert(QStringLiteral("UPDATE visits SET handed_to = ? WHERE id = ?"),
                          {b.handed_to, visit});
    if (b.plan_set) {
        const QString loop = QStringLiteral("(SELECT loop FROM visits WHERE id = ?)");
        ok = ok && insert(QStringLiteral("DELETE FROM planned WHERE loop = %1").arg(loop), {visit});
        for (const auto& [address, e] : b.planned)
            ok = ok && insert(QStringLiteral("INSERT INTO planned (loop, address, type_text, "
                                             "location) VALUES (%1, ?, ?, ?)")
                                  .arg(loop),
                              {visit, address, e.type_text, e.location});
    }
    if (ok && db.commit()) return true;
    if (error_.isEmpty()) error_ = db.lastError().text();
    db.rollback();
    return false;
}

bool Batch::empty() const {
    return detectors.empty() && events.isEmpty() && searches.isEmpty() && mode_writes.isEmpty() &&
           silences.isEmpty() && reports.isEmpty() && board.isEmpty() && port.isEmpty() &&
           !plan_set && handed_to.isEmpty();
}

void Batch::merge(Batch&& later) {
    for (auto& [address, d] : later.detectors)
        detectors[address] = std::move(d);
    events += later.events;
    searches += later.searches;
    mode_writes += later.mode_writes;
    silences += later.silences;
    reports += later.reports;
    if (!later.board.isEmpty()) board = later.board;
    if (!later.port.isEmpty()) port = later.port;
    if (later.plan_set) {
        plan_set = true;
        planned = std::move(later.planned);
    }
    if (!later.handed_to.isEmpty()) handed_to = later.handed_to;
}

} // namespace site
