#pragma once

// The account row at the foot of the sidebar: an avatar with the address's first letter, the
// account's name and detail lines, and a chevron. Clicking it opens the account tab.

#include <QAbstractButton>

namespace velmora {

class ClampedLabel;
class SymbolView;

/// The round avatar: the brand gradient and a white letter when signed in, a faint plate and a
/// secondary letter otherwise.
class Avatar : public QWidget {
    Q_OBJECT

public:
    static constexpr int diameter = 24;
    static constexpr qreal fontPixels = 11;

    explicit Avatar(QWidget* parent = nullptr);

    const QString& letter() const { return letter_; }
    bool signedIn() const { return signedIn_; }
    void set(const QString& letter, bool signedIn);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString letter_;
    bool signedIn_ = false;
};

class AccountRow : public QAbstractButton {
    Q_OBJECT

public:
    static constexpr int horizontalPadding = 14;
    static constexpr int verticalPadding = 8;
    static constexpr int spacing = 8;
    static constexpr qreal nameFontPixels = 11.5;
    static constexpr int chevronPixels = 9;

    struct Lines {
        QString name;
        QString detail;
        bool operator==(const Lines&) const = default;
    };

    /// The name and detail lines: "Не вошёл" over "Войти, чтобы диктовать" when not signed in;
    /// signed in, the address's local part (before its first at sign) over its domain (the last
    /// non-empty piece between at signs), the whole address twice when it has no at sign, and
    /// "Вход выполнен" over nothing when no address is known.
    static Lines lines(bool signedIn, const QString& email);
    /// The address's first character (a whole grapheme) in upper case, or "?" for no address.
    static QString avatarLetter(const QString& email);

    explicit AccountRow(QWidget* parent = nullptr);

    void set(bool signedIn, const QString& email);

    Avatar* avatar() const { return avatar_; }
    ClampedLabel* nameLabel() const { return name_; }
    ClampedLabel* detailLabel() const { return detail_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    Avatar* avatar_;
    ClampedLabel* name_;
    ClampedLabel* detail_;
    SymbolView* chevron_;
};

}  // namespace velmora
