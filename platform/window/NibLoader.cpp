#include "platform/window/NibLoader.h"

#include <QAbstractButton>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QTranslator>
#include <list>

#include "platform/foundation/StringTable.h"
#include "platform/window/QtControls.h"
#include "ui_MainWindow.h"

namespace {

// A list keeps the descriptions in place while more are registered.
std::list<NibClassDescription>& NibClasses() {
    static std::list<NibClassDescription> classes;
    return classes;
}

// Action names are written with the platform's trailing colon ("act_ok:"); accept either form.
std::string ActionKey(std::string name) {
    if (!name.empty() && name.back() == ':') name.pop_back();
    return name;
}

}  // namespace

void NSRegisterNibClass(NibClassDescription description) {
    for (NibClassDescription& known : NibClasses()) {
        if (known.className == description.className) {
            known = std::move(description);
            return;
        }
    }
    NibClasses().push_back(std::move(description));
}

const NibClassDescription* FindNibClass(const std::string& className) {
    for (const NibClassDescription& known : NibClasses()) {
        if (known.className == className) return &known;
    }
    return nullptr;
}

bool InstallWindowTexts(const std::string& translationsDir) {
    static std::unique_ptr<QTranslator> installed;
    if (installed) QCoreApplication::removeTranslator(installed.get());
    auto texts = std::make_unique<QTranslator>();
    if (!LoadWindowTexts(*texts, translationsDir)) {
        installed.reset();
        return false;
    }
    QCoreApplication::installTranslator(texts.get());
    installed = std::move(texts);
    return true;
}

std::unique_ptr<QWidget> LoadWindowDescription(const QString& name, QString* error) {
    if (name != QLatin1String(kMainWindowDescription)) {
        *error = QStringLiteral("no window description ") + name;
        return nullptr;
    }
    // Code that uic generated from the description: the same widgets, object names and
    // `tag`, `action` and `nibOwner` properties as a run-time loader would build, in about a
    // third of the time, and without the loader's libraries in the process.
    auto window = std::make_unique<QWidget>();
    Ui::MainWindow description;
    description.setupUi(window.get());
    return window;
}

std::unique_ptr<NibOwner> NibOwner::instantiate(QWidget* window, QString* error) {
    std::string className = window->property("nibOwner").toString().toStdString();
    const NibClassDescription* description = FindNibClass(className);
    if (description == nullptr || !description->allocInit) {
        *error = QStringLiteral("no class %1 for the window's owner")
                     .arg(QString::fromStdString(className));
        return nullptr;
    }
    std::unique_ptr<NibOwner> owner(new NibOwner(window, *description));
    owner->connectOutlets();
    owner->connectActions();
    window->installEventFilter(owner.get());
    return owner;
}

NibOwner::NibOwner(QWidget* window, const NibClassDescription& description)
    : window_(window), description_(description), object_(description.allocInit()) {}

void NibOwner::connectOutlets() {
    for (const auto& [name, setOutlet] : description_.outlets) {
        QString objectName = QString::fromStdString(name);
        QWidget* widget = window_->objectName() == objectName
                              ? window_
                              : window_->findChild<QWidget*>(objectName);
        if (widget == nullptr || !setOutlet) continue;
        setOutlet(object_, NSOutletObjectForWidget(widget));
        connected_.push_back(name);
    }
}

void NibOwner::connectActions() {
    for (QAbstractButton* button : window_->findChildren<QAbstractButton*>()) {
        std::string wanted = ActionKey(button->property("action").toString().toStdString());
        if (wanted.empty()) continue;
        for (const auto& [name, action] : description_.actions) {
            if (ActionKey(name) != wanted || !action) continue;
            NSObject* owner = object_;
            auto send = action;
            QObject::connect(button, &QAbstractButton::clicked, button,
                             [owner, send, button] { send(owner, NSViewForWidget(button)); });
            break;
        }
    }
}

void NibOwner::awakeFromNib() {
    if (description_.awakeFromNib) description_.awakeFromNib(object_);
}

bool NibOwner::eventFilter(QObject* watched, QEvent* event) {
    if (watched != window_ || event->type() != QEvent::Close || !description_.windowShouldClose) {
        return false;
    }
    if (description_.windowShouldClose(object_, NSWindowForWidget(window_)) == 0) {
        event->ignore();
        return true;
    }
    return false;
}
