#include "app/qt_station_view.h"

#include "link/text_1251.h"

namespace kavra::app {

QtStationView::QtStationView(QObject* parent) : QObject(parent) {}

QString QtStationView::FromAir(std::string_view text) { return QString::fromStdString(link::Cp1251ToUtf8(text)); }

std::optional<std::string> QtStationView::ToAir(const QString& text) { return link::Utf8ToCp1251(text.toStdString()); }

void QtStationView::AppendLog(link::LogKind kind, std::string_view text) { emit logAppended(static_cast<int>(kind), FromAir(text)); }
void QtStationView::AppendChat(link::ChatKind kind, std::string_view text) { emit chatAppended(static_cast<int>(kind), FromAir(text)); }
void QtStationView::SetLabel(link::StatusLabel label, std::string_view text) { emit labelChanged(static_cast<int>(label), FromAir(text)); }
void QtStationView::SetCommandEnabled(link::Command command, bool enabled) { emit commandEnabled(static_cast<int>(command), enabled); }
void QtStationView::SetFileProgress(int percent) { emit fileProgressChanged(percent); }
void QtStationView::SetTransmitProgress(int percent) { emit transmitProgressChanged(percent); }
void QtStationView::ShowQuestion(std::string_view caption, std::string_view text, std::string_view cancel_caption) {
    emit questionShown(FromAir(caption), FromAir(text), FromAir(cancel_caption));
}
void QtStationView::SetQuestionCancelCaption(std::string_view cancel_caption) { emit questionCancelCaptionChanged(FromAir(cancel_caption)); }
void QtStationView::CloseQuestion() { emit questionClosed(); }
void QtStationView::SetCaption(std::string_view caption) { emit captionChanged(FromAir(caption)); }
void QtStationView::OpenPreferences() { emit preferencesRequested(); }

std::optional<std::string> QtStationView::AskCallsign(const std::vector<std::string>& callsigns) {
    return ask_callsign ? ask_callsign(callsigns) : std::nullopt;
}

std::optional<std::string> QtStationView::ChooseFile() { return choose_file ? choose_file() : std::nullopt; }

}  // namespace kavra::app
