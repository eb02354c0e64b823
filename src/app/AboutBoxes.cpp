#include "app/AboutBoxes.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QPointer>
#include <QSvgRenderer>
#include <QSysInfo>
#include <QVBoxLayout>
#include <charconv>
#include <cstdint>
#include <fstream>
#include <string_view>

// The resources live in a static library: nothing references them, so they are registered by hand.
static void InitAppResources() {
    Q_INIT_RESOURCE(app);
}

namespace tarvicon {

namespace {

constexpr const char* Company = "Quintar";
constexpr const char* Product = "Tarvicon";
constexpr const char* Description = "DICOM volume viewer";
constexpr int IconSize = 64;

// The process's virtual address space in bytes ("VmSize" of /proc/self/status); 0 when unknown.
std::uint64_t AddressSpaceBytes() {
    std::ifstream status("/proc/self/status");
    std::string line;
    constexpr std::string_view key = "VmSize:";
    while (std::getline(status, line)) {
        if (!line.starts_with(key)) continue;
        const std::size_t digits = line.find_first_not_of(" \t", key.size());
        if (digits == std::string::npos) return 0;
        std::uint64_t kilobytes = 0;
        const auto [end, error] = std::from_chars(line.data() + digits, line.data() + line.size(), kilobytes);
        return error == std::errc() ? kilobytes * 1024 : 0;
    }
    return 0;
}

std::string Decimal(std::uint64_t value) {
    char text[24];
    const auto [end, error] = std::to_chars(text, text + sizeof text, value);
    return std::string(text, end);
}

// "OS: " + product + " (" + kernel + ") " + processor architecture + " " + address space + "B".
std::string SystemLine() {
    return "OS: " + QSysInfo::prettyProductName().toStdString() + " (" +
           QSysInfo::kernelType().toStdString() + " " + QSysInfo::kernelVersion().toStdString() + ") " +
           QSysInfo::currentCpuArchitecture().toStdString() + " " + Decimal(AddressSpaceBytes()) + "B";
}

QLabel* Line(const std::string& text, QWidget* parent) {
    auto* label = new QLabel(QString::fromStdString(text), parent);
    label->setTextFormat(Qt::PlainText);
    return label;
}

} // namespace

std::vector<std::string> AboutLines() {
    return {std::string(Company) + " " + Product,      Product,      Description,
            std::string("Verze: ") + TARVICON_VERSION, SystemLine(), Company};
}

QIcon ApplicationIcon() {
    static const bool registered = (InitAppResources(), true);
    (void)registered;
    QSvgRenderer renderer(QStringLiteral(":/app/tarvicon.svg"));
    QIcon icon;
    if (!renderer.isValid()) return icon;
    for (const int size : {16, 24, 32, 48, 64, 128, 256}) {
        QPixmap picture(size, size);
        picture.fill(Qt::transparent);
        QPainter painter(&picture);
        renderer.render(&painter);
        painter.end();
        icon.addPixmap(picture);
    }
    return icon;
}

std::unique_ptr<QDialog> MakeAboutBox(QWidget* parent) {
    auto box = std::make_unique<QDialog>(parent);
    box->setWindowTitle(QStringLiteral("About Applicaiton..."));
    box->setModal(true);
    const QIcon icon = ApplicationIcon();
    box->setWindowIcon(icon);

    auto* picture = new QLabel(box.get());
    picture->setObjectName(QStringLiteral("Icon"));
    picture->setPixmap(icon.pixmap(IconSize, IconSize));
    picture->setAlignment(Qt::AlignTop | Qt::AlignHCenter);

    const std::vector<std::string> lines = AboutLines();
    auto* text = new QVBoxLayout;
    for (std::size_t index = 0; index < lines.size(); ++index) {
        QLabel* line = Line(lines[index], box.get());
        if (index == 1) { // the module name
            QFont large = line->font();
            large.setPointSizeF(large.pointSizeF() * 2);
            large.setBold(true);
            line->setFont(large);
        }
        text->addWidget(line);
    }

    auto* top = new QHBoxLayout;
    top->addWidget(picture);
    top->addSpacing(12);
    top->addLayout(text, 1);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, box.get());
    buttons->setCenterButtons(true);
    QObject::connect(buttons, &QDialogButtonBox::accepted, box.get(), &QDialog::accept);

    auto* layout = new QVBoxLayout(box.get());
    layout->setSizeConstraint(QLayout::SetFixedSize);
    layout->addLayout(top);
    layout->addWidget(buttons);
    return box;
}

void ShowAboutBox(QWidget* parent) {
    std::unique_ptr<QDialog> box = MakeAboutBox(parent);
    const QPointer<QDialog> alive(box.get());
    box->exec();
    // A parent closed while the box was open has taken the box along.
    if (!alive) (void)box.release();
}

} // namespace tarvicon
