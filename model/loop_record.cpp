#include "model/loop_record.h"

#include <QStringList>

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

void Loop_Record::log(int address, const QString& text) {
    if (events_.size() >= Max_Events) events_.remove(0, events_.size() - Max_Events + 1);
    events_.append({now_(), address, text});
    emit logged(events_.last());
}

void Loop_Record::search_started() {
    const int before = found().size();
    for (Detector& d : detectors_) {
        d.found = false;
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
