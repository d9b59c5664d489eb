#include "Velmora/App/Snapshot.hpp"

#include "Velmora/UI/MainView.hpp"
#include "Velmora/UI/MainWindow.hpp"

#include "Platform/Sys/AtomicFileWriter.hpp"

#include <QApplication>
#include <QBuffer>
#include <QImage>
#include <QImageWriter>
#include <QLayout>
#include <QPixmap>

#include <stdexcept>
#include <string_view>
#include <system_error>

namespace velmora {

std::vector<std::filesystem::path> Snapshot::write(const MainServices& services, const std::filesystem::path& folder) {
    qputenv("VELMORA_REDUCE_MOTION", "1");
    MainView::splashShown = true;
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec) throw std::runtime_error("cannot make the folder " + folder.string() + ": " + ec.message());

    std::vector<std::filesystem::path> written;
    for (MainTab tab : MainTabs::all) {
        MainView view(services, tab);
        view.setAttribute(Qt::WA_DontShowOnScreen);
        view.resize(MainWindow::size);
        view.show();
        // Layouts, polish and deferred deletions run from the event loop.
        for (int i = 0; i < 3; ++i) QApplication::processEvents();
        view.layout()->activate();
        QApplication::processEvents();
        const QImage picture = view.grab().toImage();
        const std::filesystem::path file = folder / (std::string(MainTabs::name(tab)) + ".png");
        // Encoded in memory and written whole: a full disk leaves no cut picture, and its error
        // says why (the writer's std::system_error names the file and the reason).
        QByteArray png;
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        QImageWriter encoder(&buffer, "PNG");
        if (!encoder.write(picture))
            throw std::runtime_error("cannot make the picture " + file.string() + ": " +
                                     encoder.errorString().toStdString());
        platform::sys::writeFileAtomically(file,
                                           std::string_view(png.constData(), static_cast<std::size_t>(png.size())));
        written.push_back(file);
    }
    return written;
}

}  // namespace velmora
