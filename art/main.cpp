// artgen: draws the program's pictures and its logo animation.
//   artgen [resource dir] [--sheet contact.png]
// With no directory it writes into the source tree's res/ folder.
#include "pictures.h"
#include "writers.h"

#include <QDir>
#include <QGuiApplication>
#include <QPainter>
#include <cstdio>

namespace {

bool SavePng(const QImage &img, const QString &path)
{
    if (!img.save(path, "PNG")) {
        std::fprintf(stderr, "artgen: cannot write %s\n", qPrintable(path));
        return false;
    }
    return true;
}

// A sheet of every picture (the small ones enlarged) and a mock of the window
// with switches, lamps and the last animation frame in place, for review.
QImage ContactSheet(const QImage &bg, const QImage &backdrop, const QImage &about,
                    const QList<QImage> &frames, const QList<QImage> &small)
{
    QImage sheet(1400, 1000, QImage::Format_RGB32);
    sheet.fill(QColor(90, 90, 96));
    QPainter p(&sheet);
    QImage mock = bg;
    {
        QPainter m(&mock);
        const char *names[] = {"Anti-Idle", "Finger", "Latency", "Ping", "Traceroute"};
        for (int i = 0; i < 5; ++i) {
            const int y = 14 + i * 40;
            m.setPen(QColor(192, 192, 192));
            m.setFont(QFont("Sans", 7));
            m.drawText(QRect(30, y, 60, 12), Qt::AlignCenter, names[i]);
            m.drawImage(33, y + 13, small[i == 2 ? 1 : 0]);
            m.drawImage(20, y + 20, small[i == 2 ? 5 : 4]);
            m.drawImage(89, y + 20, small[5]);
            if (i != 1)
                m.drawImage(86, y + 2, small[i == 3 ? 3 : 2]);
        }
        m.drawImage(kAnimLeft, kAnimTop, frames[41]);
        m.setPen(QColor(255, 255, 255));
        m.drawText(20, 235, "Status:");
    }
    p.drawImage(QRect(10, 10, 898, 504), mock);
    p.drawImage(QRect(920, 10, 329 * 1.4, 203 * 1.4), backdrop);
    p.drawImage(QRect(920, 310, 320 * 1.4, 200 * 1.4), about);
    int x = 10;
    for (const QImage &s : small) {
        p.drawImage(QRect(x, 530, s.width() * 3, s.height() * 3), s);
        x += s.width() * 3 + 10;
    }
    for (int i = 0; i < 12 && i < frames.size(); ++i)
        p.drawImage(QRect(10 + (i % 6) * 175, 640 + (i / 6) * 160, 170, 150), frames[i * 4 % frames.size()]);
    return sheet;
}

} // namespace

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    QString res = QString::fromUtf8(ART_RES_DIR), sheetPath;
    const QStringList args = app.arguments().mid(1);
    for (int i = 0; i < args.size(); ++i) {
        if (args[i] == "--sheet" && i + 1 < args.size())
            sheetPath = args[++i];
        else
            res = args[i];
    }
    const QString pics = res + "/pictures", data = res + "/data";
    QDir().mkpath(pics);
    QDir().mkpath(data);

    // Every picture at the window's size, then at twice that ("name@2x")
    // for windows drawn larger; the theme icons come in sizes of their own.
    bool ok = true;
    QString err;
    QImage bg, backdrop, about;
    QList<QImage> small, frames;
    for (const int scale : {1, 2}) {
        SetPictureScale(scale);
        const QString at = scale == 1 ? QString() : QStringLiteral("@2x");
        const QImage b = DrawBackground(), d = DrawBackdrop(), a = DrawAbout();
        ok = ok && WriteJpeg(b, pics + "/background" + at + ".jpg", 92, &err)
             && WriteJpeg(d, pics + "/backdrop" + at + ".jpg", 92, &err)
             && WriteJpeg(a, pics + "/about" + at + ".jpg", 92, &err);
        const QList<QImage> s = {DrawSwitch(false), DrawSwitch(true), DrawArrow(false),
                                 DrawArrow(true), DrawLamp(false), DrawLamp(true),
                                 DrawYesNo(true), DrawYesNo(false), DrawButton(60),
                                 DrawButton(40), DrawIcon(32), DrawIcon(16), DrawIspImages()};
        const char *names[] = {"switch_off", "switch_on", "arrow_closed", "arrow_open", "lamp_red",
                               "lamp_green", "btn_yes", "btn_no", "button", "button_small",
                               "idlix", "idlix16", "isp_images"};
        for (int i = 0; ok && i < s.size(); ++i)
            ok = SavePng(s[i], pics + "/" + names[i] + at + ".png");
        const QList<QImage> f = DrawSpinFrames(b, 48);
        ok = ok && WriteRle8Avi(f, 15, data + "/bvspin" + at + ".avi", &err);
        if (scale == 1) {
            bg = b, backdrop = d, about = a, small = s, frames = f;
            // The program icon for the desktop's icon theme, at the sizes
            // menus and launchers ask for.
            for (const int size : kThemeIconSizes) {
                const QString dir = QString("%1/icons/hicolor/%2x%2/apps").arg(res).arg(size);
                ok = ok && QDir().mkpath(dir) && SavePng(DrawIcon(size), dir + "/idlix.png");
            }
        }
    }
    if (!ok) {
        std::fprintf(stderr, "artgen: %s\n", qPrintable(err));
        return 1;
    }
    if (!sheetPath.isEmpty())
        ContactSheet(bg, backdrop, about, frames, small).save(sheetPath);
    return 0;
}
