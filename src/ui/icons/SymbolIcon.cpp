#include "ui/icons/SymbolIcon.h"

#include <QFile>
#include <QHash>
#include <QIconEngine>
#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>

#include <memory>
#include <optional>

namespace brevlin {
namespace {

struct TableEntry {
    QString iconName;
    // The icon set's filled variant is a cut-out, which reads as a different symbol.
    bool cutOutFill = false;
};

struct SymbolTable {
    QHash<QString, TableEntry> entries;
    QStringList order;
};

SymbolTable loadTable() {
    SymbolTable table;
    QFile file(QStringLiteral(":/brevlin/icons/symbols.tsv"));
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        return table;
    }
    const QString text = QString::fromUtf8(file.readAll());
    for (const QString& rawLine : text.split(QLatin1Char('\n'))) {
        const QString line = rawLine.trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#'))) {
            continue;
        }
        const QStringList fields = line.split(QLatin1Char('\t'));
        if (fields.size() < 2 || fields[0].isEmpty() || fields[1].isEmpty()) {
            continue;
        }
        const bool cutOut = fields.size() > 2 && fields[2].trimmed() == QLatin1String("cutout");
        if (!table.entries.contains(fields[0])) {
            table.order.append(fields[0]);
        }
        table.entries.insert(fields[0], TableEntry{fields[1].trimmed(), cutOut});
    }
    return table;
}

const SymbolTable& symbolTable() {
    static const SymbolTable table = loadTable();
    return table;
}

enum class IconWeight { Thin, Light, Regular, Bold, Fill };

IconWeight lineWeightFor(QFont::Weight weight) {
    if (weight >= QFont::DemiBold) {
        return IconWeight::Bold;
    }
    if (weight >= QFont::Normal) {
        return IconWeight::Regular;
    }
    if (weight >= QFont::Light) {
        return IconWeight::Light;
    }
    return IconWeight::Thin;
}

QString resourcePath(const QString& iconName, IconWeight weight) {
    QString folder;
    switch (weight) {
    case IconWeight::Thin:
        folder = QStringLiteral("thin");
        break;
    case IconWeight::Light:
        folder = QStringLiteral("light");
        break;
    case IconWeight::Regular:
        return QStringLiteral(":/phosphor/regular/%1.svg").arg(iconName);
    case IconWeight::Bold:
        folder = QStringLiteral("bold");
        break;
    case IconWeight::Fill:
        folder = QStringLiteral("fill");
        break;
    }
    return QStringLiteral(":/phosphor/%1/%2-%1.svg").arg(folder, iconName);
}

// Script and writing-direction variants draw the same picture here.
bool isLanguageSuffix(const QString& component) {
    static const QStringList suffixes = {
        QStringLiteral("ar"), QStringLiteral("bn"), QStringLiteral("el"),  QStringLiteral("gu"),
        QStringLiteral("he"), QStringLiteral("hi"), QStringLiteral("ja"),  QStringLiteral("km"),
        QStringLiteral("kn"), QStringLiteral("ko"), QStringLiteral("ml"),  QStringLiteral("mr"),
        QStringLiteral("my"), QStringLiteral("or"), QStringLiteral("pa"),  QStringLiteral("ru"),
        QStringLiteral("sa"), QStringLiteral("si"), QStringLiteral("ta"),  QStringLiteral("te"),
        QStringLiteral("th"), QStringLiteral("zh"), QStringLiteral("rtl"), QStringLiteral("ltr")};
    return suffixes.contains(component);
}

std::optional<QStringList> withoutLast(const QStringList& parts, bool (*matches)(const QString&)) {
    if (parts.size() > 1 && matches(parts.last())) {
        return parts.mid(0, parts.size() - 1);
    }
    return std::nullopt;
}

bool isShapeSuffix(const QString& component) {
    return component == QLatin1String("circle") || component == QLatin1String("square");
}

std::optional<QString> resolve(const QString& symbolName, QFont::Weight weight) {
    QStringList parts = symbolName.split(QLatin1Char('.'));
    const bool filled = parts.removeAll(QStringLiteral("fill")) > 0;
    if (parts.isEmpty() || parts.contains(QString())) {
        return std::nullopt;
    }

    // The name as given, then without an enclosing shape, then without a language variant
    // (and that again without its shape).
    QList<QStringList> candidates{parts};
    const auto shapeless = withoutLast(parts, isShapeSuffix);
    if (shapeless) {
        candidates.append(*shapeless);
    }
    if (const auto plain = withoutLast(parts, isLanguageSuffix)) {
        candidates.append(*plain);
        if (const auto plainShapeless = withoutLast(*plain, isShapeSuffix)) {
            candidates.append(*plainShapeless);
        }
    }

    const SymbolTable& table = symbolTable();
    for (const QStringList& candidate : candidates) {
        const auto it = table.entries.constFind(candidate.join(QLatin1Char('.')));
        if (it == table.entries.constEnd()) {
            continue;
        }
        IconWeight iconWeight = lineWeightFor(weight);
        if (filled) {
            iconWeight = it->cutOutFill ? IconWeight::Bold : IconWeight::Fill;
        }
        const QString path = resourcePath(it->iconName, iconWeight);
        if (!QFile::exists(path)) {
            return std::nullopt;
        }
        return path;
    }
    return std::nullopt;
}

// SVG text per resource file, shared by every tint and size of that icon.
QByteArray svgText(const QString& path) {
    static QHash<QString, QByteArray> cache;
    auto it = cache.find(path);
    if (it == cache.end()) {
        QFile file(path);
        QByteArray bytes;
        if (file.open(QIODevice::ReadOnly)) {
            bytes = file.readAll();
        }
        it = cache.insert(path, bytes);
    }
    return *it;
}

class SymbolIconEngine final : public QIconEngine {
public:
    SymbolIconEngine(QString path, QColor tint)
        : path_(std::move(path))
        , tint_(std::move(tint)) {}

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode, QIcon::State) override {
        QSvgRenderer& svg = renderer();
        if (!svg.isValid() || rect.isEmpty()) {
            return;
        }
        QSizeF drawn = svg.viewBoxF().size();
        if (drawn.isEmpty()) {
            drawn = rect.size();
        }
        drawn.scale(rect.size(), Qt::KeepAspectRatio);
        const QRectF target(rect.x() + (rect.width() - drawn.width()) / 2.0,
                            rect.y() + (rect.height() - drawn.height()) / 2.0, drawn.width(),
                            drawn.height());
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        painter->setOpacity(painter->opacity() * tint_.alphaF());
        svg.render(painter, target);
        painter->restore();
    }

    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
        return scaledPixmap(size, mode, state, 1.0);
    }

    // Qt asks for the pixmap in device pixels here; drawing the vectors at that size keeps the
    // icon sharp on high-density screens instead of scaling up a small bitmap.
    QPixmap scaledPixmap(const QSize& size, QIcon::Mode mode, QIcon::State state,
                         qreal scale) override {
        if (size.isEmpty()) {
            return {};
        }
        QPixmap result(size);
        result.fill(Qt::transparent);
        {
            QPainter painter(&result);
            paint(&painter, QRect(QPoint(0, 0), size), mode, state);
        }
        result.setDevicePixelRatio(scale > 0 ? scale : 1.0);
        return result;
    }

    QIconEngine* clone() const override { return new SymbolIconEngine(*this); }

    QString key() const override { return QStringLiteral("brevlin-symbol"); }

    bool isNull() override { return false; }

private:
    SymbolIconEngine(const SymbolIconEngine& other)
        : QIconEngine(other)
        , path_(other.path_)
        , tint_(other.tint_)
        , renderer_(other.renderer_) {}

    QSvgRenderer& renderer() {
        if (!renderer_) {
            QByteArray text = svgText(path_);
            text.replace("currentColor", tint_.name(QColor::HexRgb).toLatin1());
            renderer_ = std::make_shared<QSvgRenderer>(text);
        }
        return *renderer_;
    }

    QString path_;
    QColor tint_;
    // Parsed once per icon and shared with its copies; QIcon clones engines freely.
    std::shared_ptr<QSvgRenderer> renderer_;
};

} // namespace

QIcon symbolIcon(const QString& symbolName, QFont::Weight weight, const QColor& tint) {
    const auto path = resolve(symbolName, weight);
    if (!path) {
        return {};
    }
    return QIcon(new SymbolIconEngine(*path, tint));
}

bool hasSymbol(const QString& symbolName) {
    return resolve(symbolName, QFont::Normal).has_value();
}

QString symbolResourcePath(const QString& symbolName, QFont::Weight weight) {
    return resolve(symbolName, weight).value_or(QString());
}

QStringList mappedSymbolNames() {
    return symbolTable().order;
}

QString mappedIconName(const QString& symbolName) {
    return symbolTable().entries.value(symbolName).iconName;
}

} // namespace brevlin
