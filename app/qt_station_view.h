// The station's view on the desktop.  The link layer and the station call it from the
// user-interface thread and from TransmitThread; every call becomes a signal delivered to the
// windows in the user-interface thread, queued in call order, so no worker ever touches a widget.
// The two dialogs that answer at once (Connection, file choice) are run through the hooks the main
// window sets; they are only ever called from the user-interface thread.
#pragma once

#include <QObject>
#include <QString>

#include <functional>

#include "station/station_view.h"

namespace kavra::app {

class QtStationView : public QObject, public station::StationView {
    Q_OBJECT
public:
    explicit QtStationView(QObject* parent = nullptr);

    void AppendLog(link::LogKind kind, std::string_view text) override;
    void AppendChat(link::ChatKind kind, std::string_view text) override;
    void SetLabel(link::StatusLabel label, std::string_view text) override;
    void SetCommandEnabled(link::Command command, bool enabled) override;
    void SetFileProgress(int percent) override;
    void SetTransmitProgress(int percent) override;
    void ShowQuestion(std::string_view caption, std::string_view text, std::string_view cancel_caption) override;
    void SetQuestionCancelCaption(std::string_view cancel_caption) override;
    void CloseQuestion() override;
    std::optional<std::string> AskCallsign(const std::vector<std::string>& callsigns) override;
    std::optional<std::string> ChooseFile() override;
    void SetCaption(std::string_view caption) override;
    void OpenPreferences() override;

    // The Connection dialog and the file dialog, set by the main window.  Texts are Windows-1251.
    std::function<std::optional<std::string>(const std::vector<std::string>&)> ask_callsign;
    std::function<std::optional<std::string>()> choose_file;

    // Windows-1251 bytes to and from the text the widgets show.
    static QString FromAir(std::string_view text);
    static std::optional<std::string> ToAir(const QString& text);

signals:
    void logAppended(int kind, const QString& text);        // link::LogKind
    void chatAppended(int kind, const QString& text);       // link::ChatKind
    void labelChanged(int label, const QString& text);      // link::StatusLabel
    void commandEnabled(int command, bool enabled);         // link::Command
    void fileProgressChanged(int percent);
    void transmitProgressChanged(int percent);
    void questionShown(const QString& caption, const QString& text, const QString& cancel_caption);
    void questionCancelCaptionChanged(const QString& cancel_caption);
    void questionClosed();
    void captionChanged(const QString& caption);
    void preferencesRequested();
};

}  // namespace kavra::app
