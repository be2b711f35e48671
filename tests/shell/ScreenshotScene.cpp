// The scene that tools/screenshot photographs: the real application windows
// on a store over the test fakes (no network, no model), with the shipped
// catalog, put into the state named by VANTULI_SCREENSHOT_STATE, then the
// whole screen grabbed to a PNG.
//
//   vantuli-screenshot-scene <out.png> [WIDTHxHEIGHT]
//
// State words (comma separated; see tools/screenshot for the list):
//   station=<id>  select that station            playing | connecting | failed
//   captions      a few captions on the desk      captions-off
//   captions=en|zh|ja|ko  five captions in one language   size=<caption size, e.g. 18, 32, 46>
//   overlay       the floating caption overlay    translate=<text>
//   sheet=schedule|archive|support                about | support-window
//   directory=hidden                              search
//   language=<code>                               tab=<directory tab: 精选, 所有电台, ...>
//   query=<text>  the directory's search text     favorite=<id> (repeatable)
//   sleep=<minutes>                               delay=<ms before the grab>
//   caption=<text>  the newest caption alone      fullscreen (a focused full-screen window)
//   ink=white|yellow|mint|black, face=standard|rounded|serif|mono,
//   opacity=<0-100>, lines=<n>: the overlay's style
//   archive[=sessions]  listening sessions and captions in the archive (the
//                 archive sheet in its sessions mode)   schedule  three listening times
//   archive=damaged  an archive file that cannot be opened (the store has none)
//   adds=<n>  the open schedule sheet's add button pressed n times
//   facet=country|language|genre  that directory facet menu open
//   unavailable=<id>  that station failed on this machine
//   menu=app|captions  that menu of the menu bar open
#include "store/StoreTestSupport.h"
#include "support/WidgetHarness.h"

#include "look/Appearance.h"
#include "shell/RadioWindow.h"
#include "shell/VantuliApp.h"
#include "shell/WindowRegistry.h"
#include "directory/FacetMenu.h"
#include "directory/StationDirectory.h"
#include "overlay/FloatingCaptions.h"
#include "platform/Resources.h"
#include "records/L10n.h"
#include "look/FocusRing.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QToolButton>
#include <QGuiApplication>
#include <QLinearGradient>
#include <QMenuBar>
#include <QPainter>
#include <QPixmap>
#include <QScreen>
#include <QTimeEdit>
#include <QTimer>

#include <cstdio>
#include <memory>

using namespace vantuli;

namespace {

// An evening of listening in the store's archive: English and Chinese
// captions of two stations, a reconnect that failed and a start that never played.
void fillArchive(RadioStore &radio)
{
    ListeningArchive *archive = radio.archive();
    if (!archive)
        return;
    std::optional<Station> english, chinese;
    for (const Station &s : radio.stations()) {
        if (!english && s.language.startsWith(QLatin1String("en")))
            english = s;
        if (!chinese && s.language.startsWith(QLatin1String("zh")))
            chinese = s;
    }
    if (!english || !chinese)
        return;
    const double now = Date::now().secondsSince1970;
    const auto session = [&](const Station &s, double start, double played, qint64 bytes, bool began, bool broken) {
        const qint64 id = archive->begin(s, 0, Date{start});
        archive->checkpoint(id, began ? std::optional<Date>(Date{start + 1.2}) : std::nullopt, Date{start + played},
                            played, bytes, played + 1.2, bytes ? std::optional<double>(0.4567) : std::nullopt, broken);
        return id;
    };
    const auto say = [&](qint64 id, double at, const QString &language, const QStringList &lines) {
        for (int i = 0; i < lines.size(); ++i)
            archive->append({test::caption(lines[i], i * 4.0)}, id, language, Date{at + i * 4.0});
    };
    const qint64 first = session(*english, now - 7200, 1510, 24'200'000, true, false);
    say(first, now - 7100, QStringLiteral("en"),
        {QStringLiteral("Good evening, and welcome to the late news."),
         QStringLiteral("Rain is expected across the north by the morning,"),
         QStringLiteral("clearing in the afternoon with highs of fourteen degrees."),
         QStringLiteral("In parliament today, the budget debate ran late into the evening."),
         QStringLiteral("Ministers defended the plan to widen the coastal railway."),
         QStringLiteral("Critics said the cost had doubled since the spring."),
         QStringLiteral("Next, the headlines from around the world."),
         QStringLiteral("Talks resumed in Geneva this afternoon."),
         QStringLiteral("Both delegations described the first session as constructive."),
         QStringLiteral("Markets in Asia closed slightly higher."),
         QStringLiteral("And in sport, the cup final goes to extra time.")});
    session(*chinese, now - 5300, 0, 0, false, true);
    const qint64 second = session(*chinese, now - 5200, 3725, 61'400'000, true, false);
    say(second, now - 5100, QStringLiteral("zh"),
        {QStringLiteral("各位听众晚上好，欢迎收听晚间新闻。"), QStringLiteral("今晚的节目从天气预报开始。"),
         QStringLiteral("明天北方有小雨，气温十二到十八度。"), QStringLiteral("南方地区以晴为主，"),
         QStringLiteral("午后局部有雷阵雨。"), QStringLiteral("下面是国内新闻。"),
         QStringLiteral("今年的秋粮收购工作已经全面展开，"), QStringLiteral("各地粮食部门加强了质量检测。"),
         QStringLiteral("接下来是国际新闻。"), QStringLiteral("联合国大会今天继续进行一般性辩论。")});
    session(*english, now - 600, 42, 390'000, true, true);
}

// Three listening times: two stations of the catalog and one that left it.
void fillSchedule(RadioStore &radio, test::StoreProbe &probe)
{
    const std::vector<Station> &stations = radio.stations();
    if (stations.size() < 2)
        return;
    const QDate today = QDate::currentDate();
    radio.addTime(stations[0], Date::fromQDateTime(QDateTime(today, QTime(7, 5))), true);
    radio.addTime(stations[1], Date::fromQDateTime(QDateTime(today, QTime(18, 30))), false);
    std::vector<ListeningTime> schedule = radio.schedule();
    schedule.push_back(ListeningTime{QUuid::createUuid(), QStringLiteral("no-longer-listed"), 22, 0, false});
    probe.setSchedule(schedule);
}

} // namespace

int main(int argc, char **argv)
{
    QApplication application(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Vantuli"));
    QApplication::setApplicationName(QStringLiteral("Vantuli"));
    if (argc < 2) {
        std::fprintf(stderr, "usage: vantuli-screenshot-scene <out.png> [WIDTHxHEIGHT]\n");
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[1]);
    QSize size(1040, 690);
    if (argc >= 3) {
        const QStringList parts = QString::fromLatin1(argv[2]).split(QLatin1Char('x'));
        if (parts.size() == 2)
            size = QSize(parts.at(0).toInt(), parts.at(1).toInt());
    }
    QHash<QString, QString> state;
    QStringList favorites;
    for (const QString &word : qEnvironmentVariable("VANTULI_SCREENSHOT_STATE").split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const QString key = word.section(QLatin1Char('='), 0, 0).trimmed();
        const QString value = word.section(QLatin1Char('='), 1);
        if (key == QLatin1String("favorite"))
            favorites.append(value);
        else
            state.insert(key, value);
    }
    // The Studio look for every window: the scheme's palette, the focus ring.
    vantuli::Appearance::shared();
    vantuli::FocusRing::install();

    auto settings = std::make_shared<MemorySettingsStore>();
    if (state.value(QStringLiteral("directory")) == QLatin1String("hidden"))
        settings->setValue(QString::fromLatin1(directoryVisibleKey), false);
    if (state.contains(QStringLiteral("language")))
        L10n::shared().select(state.value(QStringLiteral("language")));
    // size=<n>: the caption desk's caption size.
    if (state.contains(QStringLiteral("size")))
        settings->setValue(QStringLiteral("subtitleSize"), state.value(QStringLiteral("size")).toDouble());

    test::StreamFarm farm;
    auto recognizer = std::make_shared<test::CannedRecognizer::Probe>();
    RadioStore::Dependencies d;
    d.defaults = settings;
    d.catalogPath = Resources::path(QStringLiteral("catalog.json"));
    d.streamFactory = farm.factory();
    d.asr = test::makeCannedASR(recognizer);
    d.mediaSession = std::make_shared<test::RecordingMediaSession>();
    d.handleTerminationSignals = false;
    // archive=damaged: an archive file that cannot be opened, so the store has none.
    QTemporaryDir archiveFolder;
    if (state.value(QStringLiteral("archive")) == QLatin1String("damaged")) {
        d.archiveURL = archiveFolder.filePath(QStringLiteral("Listening.sqlite3"));
        QFile file(*d.archiveURL);
        if (file.open(QIODevice::WriteOnly))
            file.write(QByteArray("not a database ").repeated(400));
    }
    VantuliApp::Options options;
    options.settings = settings;
    options.dependencies = std::move(d);
    options.tray = false;
    VantuliApp app(std::move(options));
    RadioStore *radio = app.radio();
    test::StoreProbe probe(*radio);

    if (state.contains(QStringLiteral("station"))) {
        const Station *found = radio->catalogStation(state.value(QStringLiteral("station")));
        if (found)
            radio->setSelected(*found);
    }
    for (const QString &id : favorites) {
        const Station *found = radio->catalogStation(id);
        if (found)
            radio->favorite(*found);
    }
    if (state.contains(QStringLiteral("unavailable"))) {
        const Station *found = radio->catalogStation(state.value(QStringLiteral("unavailable")));
        if (found)
            probe.setFailures({{found->id, StationFailure{found->streamUrl, Date::now()}}});
    }
    if (const auto tab = LibraryFilter::fromRawValue(state.value(QStringLiteral("tab"))))
        radio->setFilter(*tab);
    if (state.contains(QStringLiteral("query")))
        radio->setQuery(state.value(QStringLiteral("query")));
    if (state.contains(QStringLiteral("captions-off")))
        radio->setCaptionsOn(false);
    if (radio->selected()) {
        const Station station = *radio->selected();
        if (state.contains(QStringLiteral("playing")))
            probe.play(station);
        else if (state.contains(QStringLiteral("connecting")))
            probe.play(station, RadioStore::State::Connecting);
        else if (state.contains(QStringLiteral("failed")))
            probe.play(station, RadioStore::State::Failed);
        if (state.contains(QStringLiteral("playing")))
            probe.setBufferSeconds(14);
    }
    const QString captionSet = state.value(QStringLiteral("captions"));
    if (!captionSet.isEmpty()) {
        // captions=en|zh|ja|ko: five lines of one language, the newest long enough to wrap.
        const QHash<QString, QStringList> lines = {
            {QStringLiteral("en"),
             {QStringLiteral("Good evening, and welcome to the late news."),
              QStringLiteral("Our top story tonight: the northern bridge reopens after two years of repairs."),
              QStringLiteral("Rain is expected across the north by the morning."),
              QStringLiteral("It should clear in the afternoon, with highs of fourteen degrees."),
              QStringLiteral("Next, the headlines from around the world, and then the sport with Anna Clarke.")}},
            {QStringLiteral("zh"),
             {QStringLiteral("各位听众晚上好，欢迎收听晚间新闻。"),
              QStringLiteral("今晚的头条：北部大桥经过两年维修，明天重新通车。"),
              QStringLiteral("明天早晨北方地区有小雨。"),
              QStringLiteral("午后转晴，最高气温十四度。"),
              QStringLiteral("接下来是国际新闻摘要，随后是体育节目，请继续收听，不要走开。")}},
            {QStringLiteral("ja"),
             {QStringLiteral("こんばんは、夜のニュースの時間です。"),
              QStringLiteral("今夜のトップニュース：北の橋が二年ぶりに通行を再開します。"),
              QStringLiteral("明日の朝は北部で小雨の見込みです。"),
              QStringLiteral("午後には晴れ、最高気温は十四度の予想です。"),
              QStringLiteral("このあとは世界のニュース、そしてスポーツをお伝えします。どうぞそのままお聴きください。")}},
            {QStringLiteral("ko"),
             {QStringLiteral("안녕하십니까, 저녁 뉴스입니다."),
              QStringLiteral("오늘의 주요 뉴스: 북부 대교가 2년간의 보수를 마치고 다시 개통됩니다."),
              QStringLiteral("내일 아침 북부 지역에는 약한 비가 예상됩니다."),
              QStringLiteral("오후에는 맑아지겠고 낮 최고 기온은 14도입니다."),
              QStringLiteral("이어서 세계 주요 소식과 스포츠 소식을 전해 드립니다. 채널 고정해 주십시오.")}},
        };
        std::vector<Caption> list;
        const QStringList texts = lines.value(captionSet, lines.value(QStringLiteral("en")));
        for (qsizetype i = 0; i < texts.size(); ++i)
            list.push_back(test::caption(texts.at(i), 4.0 * double(i)));
        probe.setPosition(30);
        probe.setSubtitles(list);
    } else if (state.contains(QStringLiteral("captions"))) {
        probe.setPosition(30);
        probe.setSubtitles({test::caption(QStringLiteral("Good evening, and welcome to the late news."), 10),
                            test::caption(QStringLiteral("今晚的节目从天气预报开始，明天北方有小雨。"), 14),
                            test::caption(QStringLiteral("Rain is expected across the north by the morning, "
                                                         "clearing in the afternoon."),
                                          18),
                            test::caption(QStringLiteral("Next, the headlines from around the world."), 26, 6)});
    }
    if (state.contains(QStringLiteral("caption"))) {
        probe.setPosition(30);
        probe.setSubtitles({test::caption(state.value(QStringLiteral("caption")), 28, 6)});
    }
    if (state.contains(QStringLiteral("sleep")))
        radio->sleep(state.value(QStringLiteral("sleep")).toInt());

    if (state.contains(QStringLiteral("archive")))
        fillArchive(*radio);
    if (state.contains(QStringLiteral("schedule")))
        fillSchedule(*radio, probe);

    QWidget *main = app.open(QStringLiteral("main"));
    main->resize(size);
    main->move(40, 30);
    auto *window = qobject_cast<RadioWindow *>(main);
    if (state.contains(QStringLiteral("search")) && window)
        app.search();
    if (state.contains(QStringLiteral("overlay"))) {
        FloatingCaptionStyle style = app.floating()->style();
        const QString ink = state.value(QStringLiteral("ink"));
        const std::pair<const char *, CaptionInk> inks[] = {
            {"white", CaptionInk::White}, {"yellow", CaptionInk::Yellow}, {"mint", CaptionInk::Mint}, {"black", CaptionInk::Black}};
        for (const auto &[name, value] : inks) {
            if (ink == QLatin1String(name))
                style.ink = value;
        }
        const QString face = state.value(QStringLiteral("face"));
        const std::pair<const char *, CaptionTypeface> faces[] = {{"standard", CaptionTypeface::Standard},
                                                                  {"rounded", CaptionTypeface::Rounded},
                                                                  {"serif", CaptionTypeface::Serif},
                                                                  {"mono", CaptionTypeface::Mono}};
        for (const auto &[name, value] : faces) {
            if (face == QLatin1String(name))
                style.face = value;
        }
        if (state.contains(QStringLiteral("opacity")))
            style.opacity = state.value(QStringLiteral("opacity")).toInt();
        if (state.contains(QStringLiteral("lines")))
            style.lines = std::max(1, state.value(QStringLiteral("lines")).toInt());
        app.floating()->update(style);
        app.toggleFloating();
    }
    if (state.contains(QStringLiteral("translate")))
        app.translate(state.value(QStringLiteral("translate")));
    const QString sheet = state.value(QStringLiteral("sheet"));
    if (sheet == QLatin1String("schedule"))
        radio->setScheduleVisible(true);
    else if (sheet == QLatin1String("archive")) {
        radio->setArchiveVisible(true);
        if (state.value(QStringLiteral("archive")) == QLatin1String("sessions"))
            for (QWidget *top : QApplication::topLevelWidgets())
                if (auto *mode = top->findChild<QAbstractButton *>(QStringLiteral("archiveSessionsMode")))
                    mode->click();
    }
    else if (sheet == QLatin1String("support"))
        radio->setSupportVisible(true);
    if (state.contains(QStringLiteral("about")))
        app.open(QStringLiteral("about")); // centred on the main window
    if (state.contains(QStringLiteral("support-window"))) {
        if (QWidget *support = app.open(QStringLiteral("support")))
            support->move(main->x() + 160, main->y() + 60);
    }

    // A full-screen window in front of everything else and focused, as a
    // video player would be: the floating overlay must stay above it.
    std::unique_ptr<QWidget> fullScreen;
    if (state.contains(QStringLiteral("fullscreen"))) {
        struct Picture : QWidget {
            void paintEvent(QPaintEvent *) override
            {
                QPainter p(this);
                QLinearGradient sky(0, 0, width(), height());
                sky.setColorAt(0, QColor(250, 250, 245));
                sky.setColorAt(0.45, QColor(120, 170, 220));
                sky.setColorAt(0.55, QColor(20, 30, 40));
                sky.setColorAt(1, QColor(240, 200, 90));
                p.fillRect(rect(), sky);
                for (int x = 0; x < width(); x += 48)
                    p.fillRect(x, height() * 2 / 3, 24, height() / 3, QColor(255, 255, 255, 140));
            }
        };
        fullScreen = std::make_unique<Picture>();
        fullScreen->setWindowTitle(QStringLiteral("Full-screen video"));
        fullScreen->showFullScreen();
        fullScreen->activateWindow();
    }

    if (state.contains(QStringLiteral("facet")) && window) {
        // Opened once the window stands, so that the popup finds its button.
        const QString facet = state.value(QStringLiteral("facet"));
        QTimer::singleShot(500, window, [window, facet] {
            StationDirectory *directory = window->directory();
            if (!directory)
                return;
            FacetMenu *menu = facet == QLatin1String("language") ? directory->languageMenu()
                              : facet == QLatin1String("genre")  ? directory->genreMenu()
                                                                 : directory->countryMenu();
            menu->toggle();
        });
    }

    // adds=<n>: the open schedule sheet's add button pressed n times, two hours apart.
    for (int i = 0; i < state.value(QStringLiteral("adds")).toInt(); ++i) {
        QTimer::singleShot(400 + 200 * i, &application, [i] {
            for (QWidget *top : QApplication::topLevelWidgets()) {
                auto *time = top->findChild<QTimeEdit *>(QStringLiteral("scheduleTime"));
                auto *add = top->findChild<QAbstractButton *>(QStringLiteral("scheduleAdd"));
                if (time && add && add->isVisible()) {
                    time->setTime(QTime(6 + 2 * i, 15));
                    add->click();
                }
            }
        });
    }

    if (state.contains(QStringLiteral("focus")) && window) {
        // Keyboard focus on a control by its object name, as Tab puts it there.
        const QString name = state.value(QStringLiteral("focus"));
        QTimer::singleShot(400, window, [window, name] {
            window->activateWindow();
            if (auto *control = window->findChild<QWidget *>(name))
                control->setFocus(Qt::TabFocusReason);
        });
    }
    if (state.contains(QStringLiteral("menu")) && window) {
        // A menu open: "bar" (or "app") and "captions" for the menu bar's
        // menus as F10 or Alt+letter opens them, else the button of that object name.
        const QString name = state.value(QStringLiteral("menu"));
        QTimer::singleShot(600, window, [window, name] {
            QMenuBar *bar = window->menuBar();
            const int index = name == QLatin1String("captions") ? 1
                              : (name == QLatin1String("bar") || name == QLatin1String("app")) ? 0 : -1;
            if (index >= 0 && index < bar->actions().size())
                bar->setActiveAction(bar->actions().at(index));
            else if (auto *tool = window->findChild<QToolButton *>(name))
                tool->showMenu();
            else if (auto *button = window->findChild<QAbstractButton *>(name))
                button->click();
        });
    }

    const int delay = state.value(QStringLiteral("delay"), QStringLiteral("1500")).toInt();
    int code = 1;
    QTimer::singleShot(delay, &application, [&] {
        QScreen *screen = QGuiApplication::primaryScreen();
        const QPixmap shot = screen ? screen->grabWindow(0) : QPixmap();
        code = !shot.isNull() && shot.save(out, "PNG") ? 0 : 1;
        if (code != 0)
            std::fprintf(stderr, "vantuli-screenshot-scene: could not grab the screen into %s\n", argv[1]);
        recognizer->release();
        QApplication::exit(code);
    });
    application.exec();
    return code;
}
