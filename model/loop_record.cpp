#include "model/loop_record.h"

#include <QStringList>
#include <algorithm>

namespace record {

void Tally::add(const QDateTime& when) {
    if (count++ == 0) first = when;
    last = when;
}

int Detector::mode() const {
    const auto it = params.find(Mode_Code);
    return it == params.end() ? -1 : it->second;
}

QString version_text(int byte) {
    return byte < 0 ? QString() : QStringLiteral("%1.%2").arg(byte >> 4).arg(byte & 0x0F);
}

QString mode_text(int byte) {
    if (byte < 0) return QString();
    QStringList on;
    if (!(byte & 0x02)) on << QStringLiteral("Optique");
    if (!(byte & 0x01))
        on << ((byte & 0x04) ? QStringLiteral("Statique") : QString::fromUtf8("Thermovélo"));
    return on.isEmpty() ? QString::fromUtf8("aucun élément") : on.join(QLatin1Char(' '));
}

QString point_text(Point p) {
    switch (p) {
    case Point::Standby:
        return QStringLiteral("Veille");
    case Point::Alarm:
        return QStringLiteral("Alarme");
    case Point::Point_Fault:
        return QString::fromUtf8("Défaut du point");
    case Point::Com_Fault:
        return QString::fromUtf8("Défaut com");
    case Point::Unknown:
        break;
    }
    return QString();
}

QString readout_text(Readout r) {
    switch (r) {
    case Readout::Complete:
        return QStringLiteral("complète");
    case Readout::Partial:
        return QStringLiteral("partielle");
    case Readout::Failed:
        return QString::fromUtf8("échouée");
    case Readout::None:
        break;
    }
    return QString();
}

QString code_text(int code) {
    return code < 0 ? QString()
                    : QStringLiteral("0x") +
                          QStringLiteral("%1").arg(code, 2, 16, QLatin1Char('0')).toUpper();
}

QString count_text(int n, const char* singular) {
    return QStringLiteral("%1 %2%3").arg(n).arg(QString::fromUtf8(singular)).arg(n > 1 ? "s" : "");
}

QString seconds_text(double seconds) {
    return QString::number(seconds, 'f', 1).replace(QLatin1Char('.'), QLatin1Char(',')) +
           QStringLiteral(" s");
}

void Readout_Counts::add(Readout r) {
    switch (r) {
    case Readout::Complete:
        ++complete;
        break;
    case Readout::Partial:
        ++partial;
        break;
    case Readout::Failed:
        ++failed;
        break;
    case Readout::None:
        ++unread;
        break;
    }
}

double Silence::seconds() const {
    return to.isValid() ? double(from.msecsTo(to)) / 1000 : 0;
}

} // namespace record

using namespace record;

Loop_Record::Loop_Record() : now_([] { return QDateTime::currentDateTime(); }) {}

const Detector& Loop_Record::at(int address) const {
    static const Detector none;
    return address >= First && address <= Last ? detectors_[address - 1] : none;
}

Detector* Loop_Record::edit(int address) {
    return address >= First && address <= Last ? &detectors_[address - 1] : nullptr;
}

QList<int> Loop_Record::found() const {
    QList<int> list;
    for (int a = First; a <= Last; ++a)
        if (detectors_[a - 1].found) list << a;
    return list;
}

void Loop_Record::restore(const std::array<Detector, Last>& detectors, int searched_to,
                          const QList<Event>& events) {
    detectors_ = detectors;
    searched_to_ = std::clamp(searched_to, 0, Last);
    events_ = events.mid(std::max(0, int(events.size()) - Max_Events));
    emit changed(0);
}

void Loop_Record::log(int address, const QString& text) {
    if (events_.size() >= Max_Events) events_.remove(0, events_.size() - Max_Events + 1);
    events_.append({now_(), address, text});
    emit logged(events_.last());
}

void Loop_Record::search_started() {
    const int before = found().size();
    searched_to_ = 0;
    ++searches_;
    search_stop_.clear();
    for (Detector& d : detectors_) {
        d.found = false;
        d.earlier = false;
        d.found_at = {};
        d.type_code = -1;
        d.type_name.clear();
        d.pcb_version = d.soft_version = -1;
        d.serial.clear();
        d.params.clear();
        d.readout = Readout::None;
        d.readout_at = {};
    }
    log(0, before ? QString::fromUtf8("Nouvelle recherche : les %1 détecteurs trouvés avant, leurs "
                                      "types et leurs lectures sont effacés")
                        .arg(before)
                  : QStringLiteral("Nouvelle recherche"));
    emit changed(0);
}

void Loop_Record::set_found(int address) {
    Detector* d = edit(address);
    if (!d) return;
    d->found = true;
    d->earlier = false;
    d->found_at = now_();
    emit changed(address);
}

void Loop_Record::set_type(int address, uint8_t code, const QString& name) {
    Detector* d = edit(address);
    if (!d) return;
    if (d->type_code >= 0 && d->type_code != code)
        log(address, QStringLiteral("Type %1 lu à la place de %2").arg(name, d->type_name));
    d->type_code = code;
    d->type_name = name;
    emit changed(address);
}

void Loop_Record::search_ended(int searched_to, int found, const QString& stop) {
    searched_to_ = std::clamp(searched_to, 0, Last);
    const QString why = QString(stop).replace(QLatin1Char('\n'), QLatin1Char(' '));
    search_stop_ = why;
    log(0, stop.isEmpty()
               ? QString::fromUtf8("Recherche terminée : %1").arg(count_text(found, "détecteur"))
           : found > 0 ? QString::fromUtf8("%1 (%2 trouvés avant)").arg(why).arg(found)
                       : why);
    emit changed(0);
    emit search_finished();
}

Readout_Counts Loop_Record::readout_counts() const {
    Readout_Counts c;
    for (const Detector& d : detectors_)
        if (d.found) c.add(d.readout);
    return c;
}

void Loop_Record::readout_started(int address) {
    Detector* d = edit(address);
    if (!d) return;
    // What an older readout found stays until this one reads it again: a failed frame does not
    // erase a value that was good a minute ago, and the result says the readout was not whole.
    d->readout = Readout::None;
    emit changed(address);
}

void Loop_Record::set_version(int address, bool soft, uint8_t byte) {
    if (Detector* d = edit(address)) {
        (soft ? d->soft_version : d->pcb_version) = byte;
        emit changed(address);
    }
}

void Loop_Record::set_serial(int address, const QString& shown) {
    if (Detector* d = edit(address)) {
        d->serial = shown;
        emit changed(address);
    }
}

void Loop_Record::set_param(int address, uint8_t code, uint8_t value) {
    if (Detector* d = edit(address)) {
        d->params[code] = value;
        emit changed(address);
    }
}

void Loop_Record::readout_ended(int address, Readout result) {
    Detector* d = edit(address);
    if (!d) return;
    d->readout = result;
    d->readout_at = now_();
    if (result != Readout::Complete)
        log(address, QStringLiteral("Lecture %1").arg(readout_text(result)));
    emit changed(address);
    emit readout_finished(address);
}

void Loop_Record::readout_unheard(int address) {
    if (!edit(address)) return;
    log(address, QString::fromUtf8("Lecture impossible : la carte d'interface ne répond pas"));
    emit readout_finished(address);
}

void Loop_Record::readout_skipped(int address) {
    const Detector* d = edit(address);
    if (!d) return;
    log(address, QString::fromUtf8("Rien à lire : type %1 sans lecture connue")
                     .arg(d->type_code < 0 ? QStringLiteral("non lu") : code_text(d->type_code)));
    emit readout_finished(address);
}

void Loop_Record::simulation_started() {
    for (Detector& d : detectors_) {
        d.point = Point::Unknown;
        d.tested = false;
    }
    simulated_ = true;
    log(0, QString::fromUtf8("Simulation démarrée"));
    emit changed(0);
}

void Loop_Record::set_point(int address, Point state) {
    Detector* d = edit(address);
    if (!d || d->point == state) return;
    const Point before = d->point;
    d->point = state;
    const QDateTime when = now_();
    switch (state) {
    case Point::Alarm:
        d->alarms.add(when);
        d->tested = true;
        break;
    case Point::Point_Fault:
        d->point_faults.add(when);
        break;
    case Point::Com_Fault:
        d->com_faults.add(when);
        break;
    case Point::Standby:
    case Point::Unknown:
        break;
    }
    // The first poll of an address in standby is not a change anyone needs to read about.
    if (!(before == Point::Unknown && state == Point::Standby))
        log(address,
            state == Point::Standby ? QStringLiteral("Retour en veille") : point_text(state));
    emit changed(address);
}

void Loop_Record::simulation_stopped() {
    log(0, QString::fromUtf8("Simulation arrêtée"));
}

void Loop_Record::board_heard(bool heard, bool port_open) {
    if (heard == !board_silent()) return;
    const QDateTime when = now_();
    if (!heard) {
        if (silences_.size() >= Max_Silences) silences_.removeFirst();
        silences_.append({when, {}, !port_open});
        emit silence_changed(silences_.last());
        log(0, port_open ? QString::fromUtf8("Carte d'interface muette : aucun octet reçu")
                         : QString::fromUtf8("Port série perdu : la carte d'interface n'est plus "
                                             "joignable"));
        return;
    }
    Silence& s = silences_.last();
    s.to = when;
    emit silence_changed(s);
    log(0, QString::fromUtf8("Carte d'interface à l'écoute, après %1 de silence")
               .arg(seconds_text(s.seconds())));
}

void Loop_Record::mode_written(int address, uint8_t written, bool accepted) {
    const Detector* d = edit(address);
    if (!d) return;
    Mode_Write w{now_(), address, d->mode(), -1, written, accepted};
    w.after = w.before < 0 ? written : ((w.before & ~0x03) | written);
    if (mode_writes_.size() >= Max_Mode_Writes) mode_writes_.removeFirst();
    mode_writes_.append(w);
    emit mode_write_added(w);
    log(address, QString::fromUtf8("Mode écrit : %1 → %2, %3")
                     .arg(w.before < 0 ? QString::fromUtf8("non lu") : mode_text(w.before),
                          mode_text(w.after),
                          accepted ? QString::fromUtf8("accepté") : QString::fromUtf8("refusé")));
}

void Loop_Record::set_led(int address, bool on) {
    Detector* d = edit(address);
    if (!d || d->led_on == on) return;
    d->led_on = on;
    if (on) d->led_on_at = now_();
    emit changed(address);
}

void Loop_Record::set_led_seen(int address, bool seen) {
    Detector* d = edit(address);
    if (!d || d->led_seen == seen) return;
    d->led_seen = seen;
    if (seen) log(address, QStringLiteral("LED vue sur site"));
    emit changed(address);
}
