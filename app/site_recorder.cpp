#include "app/site_recorder.h"

#include "app/presenter.h"
#include "model/tool.h"

#include <QFileInfo>
#include <QTimer>

// The file's side, on the recorder's thread: the database connection is made, used and closed
// there alone.
class Site_Writer : public QObject {
    Q_OBJECT
  public:
    // The new visit replaces the one under way only once it is open: until then, the facts go
    // on where they went.
    qint64 open(const Site_Recorder::Visit_Start& v, QString* why, QString* site, QString* loop) {
        // One file is opened once: another visit of the site open now closes it first.
        if (file_ &&
            QFileInfo(file_->path()).absoluteFilePath() == QFileInfo(v.path).absoluteFilePath())
            close();
        auto file =
            v.create ? site::File::create(v.path, v.site, why) : site::File::open(v.path, why);
        if (!file) return 0;
        // No loop named: the site's only one, or the first of a new site.
        QString name = v.loop;
        const QStringList loops = file->loops();
        if (name.isEmpty() && loops.size() > 1) {
            *why = QStringLiteral("%1 : %2").arg(
                v.path, QString::fromUtf8("plusieurs boucles sur ce site (%1) : précisez laquelle")
                            .arg(loops.join(QStringLiteral(", "))));
            return 0;
        }
        if (name.isEmpty()) name = loops.value(0, QStringLiteral("1"));
        const qint64 id = file->loop_id(name);
        const qint64 visit =
            id ? file->begin_visit(id, v.engineer, QDateTime::currentDateTime()) : 0;
        if (visit == 0) {
            *why = QStringLiteral("%1 : %2").arg(v.path, file->last_error());
            return 0;
        }
        if (v.previous) {
            *v.previous = {};
            if (const qint64 before = file->previous_visit(visit))
                file->load_visit(before, v.previous);
        }
        if (file_ && !v.hand_over.isEmpty()) {
            failed_.handed_to = v.hand_over;
            write({});
        }
        *site = file->site_name();
        *loop = name;
        // What the old file could not take is in the record, and goes into the new visit whole.
        failed_ = {};
        said_ = false;
        file_ = std::move(file);
        visit_ = visit;
        return visit_;
    }

    // A batch that fails stays, and goes with the next one: nothing learned is dropped. True
    // when nothing waits any more.
    bool write(site::Batch batch) {
        failed_.merge(std::move(batch));
        if (!file_ || failed_.empty()) return failed_.empty();
        if (file_->write(visit_, failed_)) {
            failed_ = {};
            emit written();
            return true;
        }
        if (!std::exchange(said_, true))
            emit failed(QStringLiteral("%1 : %2").arg(file_->path(), file_->last_error()));
        return false;
    }

    bool has_file() const { return file_ != nullptr; }

    void close() {
        file_.reset();
        visit_ = 0;
    }

  signals:
    void written();
    void failed(const QString& why);

  private:
    std::unique_ptr<site::File> file_;
    qint64 visit_ = 0;
    site::Batch failed_;
    bool said_ = false; // the failure is told once
};

Site_Recorder::Site_Recorder(Loop_Record& record) : record_(record), writer_(new Site_Writer) {
    writer_->moveToThread(&thread_);
    connect(writer_, &Site_Writer::written, this, &Site_Recorder::written);
    connect(writer_, &Site_Writer::failed, this, &Site_Recorder::failed);
    thread_.setObjectName(QStringLiteral("site file"));
}

Site_Recorder::~Site_Recorder() {
    stop();
    thread_.quit();
    thread_.wait();
    delete writer_;
}

bool Site_Recorder::start(const Visit_Start& visit, QString* why) {
    // The thread starts with the first site: a run without one never has it.
    if (!thread_.isRunning()) thread_.start();
    // The visit under way takes what was learned before the switch.
    flush();
    qint64 id = 0;
    bool kept = false;
    QString site, loop;
    QMetaObject::invokeMethod(
        writer_,
        [&] {
            id = writer_->open(visit, why, &site, &loop);
            kept = writer_->has_file();
        },
        Qt::BlockingQueuedConnection);
    if (!id) {
        // Another visit of the file open now was asked: the old one is closed whatever follows.
        if (!kept) stop();
        return false;
    }
    visit_ = id;
    site_name_ = site;
    loop_ = loop;
    // What was learned before the site was opened belongs to this visit too.
    queued_ = {};
    queue(0);
    queued_.events = record_.events();
    queued_.mode_writes = record_.mode_writes();
    queued_.silences = record_.silences();
    queued_.board = board_;
    queued_.port = port_;
    if (follows_.isEmpty()) follow();
    post();
    return true;
}

void Site_Recorder::report_written(const QString& path) {
    queued_.reports << site::Batch::Report{QDateTime::currentDateTime(), path};
    post();
}

void Site_Recorder::board_known(const QString& version, const QString& port) {
    board_ = version;
    port_ = port;
    queued_.board = version;
    queued_.port = port;
    post();
}

void Site_Recorder::plan_set(const Planned_Loop& plan) {
    queued_.plan_set = true;
    queued_.planned = plan.entries();
    post();
}

void Site_Recorder::follow_board(const Tool& t) {
    const Tool* tp = &t;
    connect(&t.board, &Board_State::changed, this, [this, tp](Board_State::Fact fact) {
        if (fact != Board_State::Fact::Version || tp->board.version() < 0) return;
        board_known(interface_version(tp->board),
                    QStringLiteral("COM%1").arg(tp->state.Com_Port) +
                        (tp->port_device.isEmpty() ? QString()
                                                   : QStringLiteral(" (%1)").arg(tp->port_device)));
    });
}

void Site_Recorder::follow() {
    Loop_Record* r = &record_;
    follows_ = {
        connect(r, &Loop_Record::changed, this, [this](int address) { queue(address); }),
        connect(r, &Loop_Record::logged, this,
                [this](const record::Event& e) {
                    queued_.events << e;
                    post();
                }),
        connect(r, &Loop_Record::search_finished, this,
                [this, r] {
                    queued_.searches
                        << site::Batch::Search{QDateTime::currentDateTime(), r->searched_to(),
                                               int(r->found().size()), r->search_stop()};
                    post();
                }),
        connect(r, &Loop_Record::mode_write_added, this,
                [this](const record::Mode_Write& w) {
                    queued_.mode_writes << w;
                    post();
                }),
        connect(r, &Loop_Record::silence_changed, this,
                [this](const record::Silence& s) {
                    queued_.silences << s;
                    post();
                }),
    };
}

void Site_Recorder::queue(int address) {
    if (address == 0)
        dirty_.set();
    else if (address >= Loop_Record::First && address <= Loop_Record::Last)
        dirty_.set(size_t(address));
    post();
}

// The copy waits for the event loop: a step that learns ten facts in a row makes one batch.
void Site_Recorder::post() {
    if (std::exchange(posted_, true)) return;
    QTimer::singleShot(0, this, [this] { flush(); });
}

void Site_Recorder::flush() {
    posted_ = false;
    if (!visit_) return;
    for (int a = Loop_Record::First; a <= Loop_Record::Last; ++a)
        if (dirty_.test(size_t(a))) queued_.detectors[a] = record_.at(a);
    dirty_.reset();
    if (queued_.empty()) return;
    QMetaObject::invokeMethod(
        writer_,
        [w = writer_, b = std::exchange(queued_, {})]() mutable { w->write(std::move(b)); },
        Qt::QueuedConnection);
}

bool Site_Recorder::sync() {
    if (!visit_) return false;
    flush();
    bool ok = false;
    QMetaObject::invokeMethod(
        writer_, [&] { ok = writer_->write({}); }, Qt::BlockingQueuedConnection);
    return ok;
}

void Site_Recorder::stop() {
    if (!visit_) return;
    for (const QMetaObject::Connection& c : std::exchange(follows_, {}))
        disconnect(c);
    flush();
    QMetaObject::invokeMethod(
        writer_, [w = writer_] { w->close(); }, Qt::BlockingQueuedConnection);
    visit_ = 0;
}

#include "site_recorder.moc"
