#pragma once
#include "app/site_file.h"

#include <QObject>
#include <QThread>
#include <bitset>

class Site_Writer;
struct Tool;

// Keeps a site file up to date with what the record learns, on a thread of its own, so that no
// bus step ever waits for the disk. Each fact is queued the moment the record learns it, and
// written with whatever else came in the same pass of the event loop, in one transaction: a
// process killed at any moment loses at most the batch under way.
class Site_Recorder : public QObject {
    Q_OBJECT
  public:
    explicit Site_Recorder(Loop_Record& record);
    // What is queued is written before the file closes.
    ~Site_Recorder() override;

    struct Visit_Start {
        QString path;
        bool create = false; // a new site file, named `site`
        QString site;
        QString loop; // empty: the site's only loop, or "1" on a new site
        QString engineer;
        // Said on the visit left for this one, when there is one (a session handed to a site).
        QString hand_over;
        // Filled with the visit of the same loop before this one, when there is one.
        site::Stored_Visit* previous = nullptr;
    };
    // Opens the site file and begins a visit of the loop: what the record holds already goes in
    // first, then every fact as it comes. False with the French reason in `why`, and the visit
    // recorded until now, if any, goes on as before.
    bool start(const Visit_Start& visit, QString* why);
    // Facts of the visit that are not the loop's: kept with the next batch.
    void report_written(const QString& path);
    void board_known(const QString& version, const QString& port);
    void plan_set(const Planned_Loop& plan);
    // The board's version and the port, each time the board tells its version.
    void follow_board(const Tool& t);
    // Writes what is queued, the facts of the last pass included, and waits for the commit.
    bool sync();
    // Writes what is queued and closes the file; the record is no longer followed.
    void stop();
    bool recording() const { return visit_ != 0; }
    qint64 visit() const { return visit_; }
    // The site's name and the loop of the visit recorded, for the report.
    const QString& site_name() const { return site_name_; }
    const QString& loop() const { return loop_; }

  signals:
    // A batch could not be written (a full disk...): it is kept and tried again with the next.
    void failed(const QString& why);
    // Everything queued until now is on disk.
    void written();

  private:
    void follow();
    void queue(int address); // 0: every address
    void post();
    void flush();

    Loop_Record& record_;
    QThread thread_;
    Site_Writer* writer_;
    qint64 visit_ = 0;
    QString site_name_, loop_;
    QString board_, port_; // as last known, for the next visit too
    QList<QMetaObject::Connection> follows_;
    std::bitset<Loop_Record::Last + 1> dirty_;
    site::Batch queued_;
    bool posted_ = false;
};
