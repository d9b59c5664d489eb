#include "Velmora/UI/Motion.hpp"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>
#include <QObject>
#include <QPointF>
#include <QPointer>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace velmora {
namespace {

constexpr auto portalService = "org.freedesktop.portal.Desktop";
constexpr auto portalPath = "/org/freedesktop/portal/desktop";
constexpr auto portalSettings = "org.freedesktop.portal.Settings";
constexpr auto animationsNamespace = "org.gnome.desktop.interface";
constexpr auto animationsKey = "enable-animations";

// The desktop's animation setting through the settings portal, which every desktop's portal
// serves (GNOME's own key; other desktops mirror it or leave it out). Asked once without
// waiting, then kept up to date by the portal's change signal.
class DesktopMotion : public QObject {
    Q_OBJECT

public:
    explicit DesktopMotion(QObject* parent) : QObject(parent) {
        QDBusConnection bus = QDBusConnection::sessionBus();
        if (!bus.isConnected()) return;
        bus.connect(portalService, portalPath, portalSettings, "SettingChanged", this,
                    SLOT(settingChanged(QString, QString, QDBusVariant)));
        QDBusMessage read = QDBusMessage::createMethodCall(portalService, portalPath, portalSettings, "Read");
        read << QString::fromLatin1(animationsNamespace) << QString::fromLatin1(animationsKey);
        auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(read), this);
        connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* call) {
            const QDBusPendingReply<QDBusVariant> reply = *call;
            if (!reply.isError()) take(reply.value().variant());
            call->deleteLater();
        });
    }

    bool reduced() const { return reduced_; }

private Q_SLOTS:
    void settingChanged(const QString& group, const QString& key, const QDBusVariant& value) {
        if (group == QLatin1String(animationsNamespace) && key == QLatin1String(animationsKey)) take(value.variant());
    }

private:
    void take(QVariant value) {
        // Read wraps the value in a second variant.
        while (value.canConvert<QDBusVariant>() && value.userType() == qMetaTypeId<QDBusVariant>())
            value = value.value<QDBusVariant>().variant();
        if (value.userType() == QMetaType::Bool) reduced_ = !value.toBool();
    }

    bool reduced_ = false;
};

bool desktopReducesMotion() {
    static QPointer<DesktopMotion> desktop;
    QCoreApplication* app = QCoreApplication::instance();
    if (app == nullptr) return false;
    if (desktop.isNull()) desktop = new DesktopMotion(app);
    return desktop->reduced();
}

// A spring released from rest at 0 towards 1 (for damping below 1 it overshoots a little), and
// its speed.
double springPosition(double t, double omega, double damping) {
    if (damping >= 1) return 1 - std::exp(-omega * t) * (1 + omega * t);
    const double damped = omega * std::sqrt(1 - damping * damping);
    return 1 -
           std::exp(-damping * omega * t) * (std::cos(damped * t) + damping * omega / damped * std::sin(damped * t));
}

double springSpeed(double t, double omega, double damping) {
    if (damping >= 1) return omega * omega * t * std::exp(-omega * t);
    const double damped = omega * std::sqrt(1 - damping * damping);
    return std::exp(-damping * omega * t) * omega * omega / damped * std::sin(damped * t);
}

}  // namespace

bool reduceMotion() {
    const char* value = std::getenv("VELMORA_REDUCE_MOTION");
    if (value != nullptr && *value != '\0') return std::strcmp(value, "1") == 0;
    return desktopReducesMotion();
}

MotionCurve MotionCurve::easeOut(int durationMs) {
    QEasingCurve curve(QEasingCurve::BezierSpline);
    curve.addCubicBezierSegment(QPointF(0, 0), QPointF(0.58, 1), QPointF(1, 1));
    return {durationMs, curve};
}

MotionCurve MotionCurve::easeInOut(int durationMs) {
    QEasingCurve curve(QEasingCurve::BezierSpline);
    curve.addCubicBezierSegment(QPointF(0.42, 0), QPointF(0.58, 1), QPointF(1, 1));
    return {durationMs, curve};
}

MotionCurve MotionCurve::spring(double response, double dampingFraction) {
    const double omega = 2 * M_PI / response;
    const double zeta = std::max(0.05, dampingFraction);
    // Settled when the envelope e^(-ζωt) is below a thousandth.
    const double settle = std::log(1000.0) / (std::min(zeta, 1.0) * omega);
    // QEasingCurve takes only a plain function, so the spring goes in as cubic Bézier pieces
    // matching its position and speed at their ends. Qt 6.4 writes past its buffers with more
    // than ten pieces, so there are ten, denser where the spring moves fastest.
    constexpr int pieces = 10;
    QEasingCurve curve(QEasingCurve::BezierSpline);
    const auto at = [&](int i) {
        const double p = std::pow(static_cast<double>(i) / pieces, 1.5);
        const bool last = i == pieces;
        return std::pair{QPointF(p, last ? 1.0 : springPosition(p * settle, omega, zeta)),
                         last ? 0.0 : springSpeed(p * settle, omega, zeta) * settle};
    };
    for (int i = 0; i < pieces; ++i) {
        const auto [from, fromSlope] = at(i);
        const auto [to, toSlope] = at(i + 1);
        const double third = (to.x() - from.x()) / 3;
        curve.addCubicBezierSegment(from + QPointF(third, third * fromSlope), to - QPointF(third, third * toSlope), to);
    }
    return {static_cast<int>(std::lround(settle * 1000)), curve};
}

}  // namespace velmora

#include "Motion.moc"
