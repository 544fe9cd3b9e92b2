#include "app/site_recorder.h"

#include <QTimer>

// The file's side, on the recorder's thread: the database connection is made, used and closed
// there alone.
class Site_Writer : public QObject {
    Q_OBJECT
  public:
    qint64 open(const Site_Recorder::Visit_Start& v, QString* why, QString* site, QString* loop) {
        file_ = v.create ? site::File::create(v.path, v.site, why) : site::File::open(v.path, why);
        if (!file_) return 0;
        // No loop named: the site's only one, or the first of a new site.
        QString name = v.loop;
        const QStringList loops = file_->loops();
        if (name.isEmpty() && loops.size() > 1) {
            *why = QStringLiteral("%1 : %2").arg(
                v.path, QString::fromUtf8("plusieurs boucles sur ce site (%1) : précisez laquelle")
                            .arg(loops.join(QStringLiteral(", "))));
            file_.reset();
            return 0;
        }
        if (name.isEmpty()) name = loops.value(0, QStringLiteral("1"));
        *site = file_->site_name();
        *loop = name;
        const qint64 id = file_->loop_id(name);
        visit_ = id ? file_->begin_visit(id, v.engineer, QDateTime::currentDateTime()) : 0;
        if (visit_ == 0) {
            *why = QStringLiteral("%1 : %2").arg(v.path, file_->last_error());
            file_.reset();
        }
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
    stop();
    // The thread starts with the first site: a run without one never has it.
    if (!thread_.isRunning()) thread_.start();
    qint64 id = 0;
    QMetaObject::invokeMethod(
        writer_, [&] { id = writer_->open(visit, why, &site_name_, &loop_); },
        Qt::BlockingQueuedConnection);
    visit_ = id;
    if (!id) return false;
    // What was learned before the site was opened belongs to this visit too.
    queue(0);
    queued_.events = record_.events();
    queued_.mode_writes = record_.mode_writes();
    queued_.silences = record_.silences();
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
    post();
    return true;
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
