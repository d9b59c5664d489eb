#pragma once

// Process-wide notifications by name, for the few events that one part of the application posts
// and another, which it does not know, observes. On the main thread.

#include <QObject>
#include <QString>

namespace velmora {

class Notifications : public QObject {
    Q_OBJECT

public:
    /// Posted by the account screen when the user signs out; the application observes it.
    static inline const QString velmoraNeedsSignIn = QStringLiteral("velmora.needs-sign-in");

    static Notifications& shared();

    void post(const QString& name) { Q_EMIT posted(name); }

Q_SIGNALS:
    void posted(const QString& name);
};

}  // namespace velmora
