#pragma once
#include "model/loop_record.h"
#include "model/planned_loop.h"
#include "model/visit_compare.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <map>
#include <memory>

// A site's file: its name, its loops, and every visit of each loop with what the tool learned
// then (detectors, parameters, journal, mode writes). One SQLite database, in WAL mode, marked as
// ours by its application id and versioned by its user version. A file from elsewhere is not
// trusted: it is looked at before SQLite opens it, checked once opened, and never changed when
// it fails a check.
namespace site {

// "KLVN": tells our files from any other SQLite database.
constexpr int Application_Id = 0x4B4C564E;
// The schema this build writes; older ones are upgraded on opening, newer ones refused.
constexpr int Schema_Version = 2;
// The extension the tool gives the files it creates.
inline const char* const Extension = ".kalsite";

struct Visit {
    qint64 id = 0;
    QString loop;
    QString engineer;
    QDateTime started;
    int found = 0;       // detectors found
    int read = 0;        // detectors read whole
    QString board, port; // the interface board's version and the port, as the visit knew them
    int reports = 0;     // reports written during the visit
    // What became of a visit carried on elsewhere: taken up by a later one, or handed to a site
    // file (its path); empty for a visit that ended where it began.
    QString handed_to;
};

// What the tool learned since the last write, written in one transaction: all of it or none.
struct Batch {
    struct Search {
        QDateTime at;
        int searched_to = 0, found = 0;
        QString stop;
    };
    std::map<int, record::Detector> detectors; // by address, as they stand now
    QList<record::Event> events;
    QList<Search> searches;
    QList<record::Mode_Write> mode_writes;
    QList<record::Silence> silences; // a silence again when it ends
    struct Report {
        QDateTime at;
        QString name;
    };
    QList<Report> reports;
    QString board, port;   // empty: unchanged
    bool plan_set = false; // the loop's planned list is replaced by `planned`
    std::map<int, Planned_Loop::Entry> planned;
    QString handed_to; // empty: unchanged
    bool empty() const;
    // This batch, then `later` on top of it.
    void merge(Batch&& later);
};

// A visit as the file holds it: what was learned of each address, and how far its last search
// went (0: no search ended).
struct Stored_Visit {
    Visit visit;
    Visit_Detectors detectors;
    int searched_to = 0;
    std::map<int, Planned_Loop::Entry> planned; // the loop's planned list
};

class File {
  public:
    ~File();
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    // Creates a new site file at `path`, never over anything that stands there. Null with the
    // French reason in `why`, and no file left, when it cannot.
    static std::unique_ptr<File> create(const QString& path, const QString& site_name,
                                        QString* why);
    // Opens the site file at `path` for this instance alone. Null with the French reason in
    // `why` (not a site file, damaged, newer, read-only, open elsewhere...), the file as it was.
    // `busy`, when given, tells a file held by another instance from one that cannot be used.
    static std::unique_ptr<File> open(const QString& path, QString* why, bool* busy = nullptr);

    const QString& path() const { return path_; }
    QString site_name() const;
    QStringList loops() const;
    // The loop's id, made when it is new; 0 on failure.
    qint64 loop_id(const QString& name);

    qint64 begin_visit(qint64 loop, const QString& engineer, const QDateTime& when);
    QList<Visit> visits() const;
    // The visit `id`; false when the file has none of that number.
    bool load_visit(qint64 id, Stored_Visit* out) const;
    // The visit of the same loop before `id`, or 0.
    qint64 previous_visit(qint64 id) const;
    // The visit's journal, oldest first.
    QList<record::Event> events(qint64 visit) const;
    // Removes the visits that learned nothing; false on a fault.
    bool forget_empty_visits();
    // Removes all visits but the `keep_last` most recent; false on a fault.
    bool forget_old_visits(int keep_last);

    // Writes `batch` into the visit, in one transaction; false, with last_error(), and nothing
    // written when it cannot (a full disk).
    bool write(qint64 visit, const Batch& batch);

    // The last fault of the database, in French, for a message.
    QString last_error() const { return error_; }

  private:
    explicit File(const QString& path);
    bool connect_database(QString* why, bool* busy = nullptr);
    bool exec(const QString& sql);
    bool upgrade_steps(int from);
    bool drop_visits(const QString& select);
    // The planned list of the visit's loop, as load_visit gives it.
    std::map<int, Planned_Loop::Entry> planned(qint64 visit) const;
    bool save_detector(qint64 visit, int address, const record::Detector& d);
    bool insert(const QString& sql, const QVariantList& values);

    QString path_;
    QString connection_;
    QString error_;
    int lock_fd_ = -1;
};

} // namespace site
