// kavra-modem: the modem from the command line.
#include <CLI/CLI.hpp>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <unistd.h>

#include "tools/kavra_modem/command.h"

int main(int argc, char** argv) {
    CLI::App app{"kavra-modem: the Kavra-2400 HF data modem from the command line.\n"
                 "Sub-commands write audio as 16-bit PCM mono WAV files."};
    app.require_subcommand(1);
    app.set_help_all_flag("--help-all", "Show the help of every sub-command");
    kavra::tools::AddTxCommand(app);
    kavra::tools::AddRxCommand(app);
    kavra::tools::AddChannelCommand(app);
    kavra::tools::AddBerCommand(app);
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        std::cout << app.help();
        return 0;
    } catch (const CLI::CallForAllHelp&) {
        std::cout << app.help("", CLI::AppFormatMode::All);
        return 0;
    } catch (const CLI::ParseError& e) {
        std::string message = e.what();
        for (char& c : message)
            if (c == '\n') c = ' ';
        std::cerr << "kavra-modem: " << message << " (see --help)\n";
        return 2;
    } catch (const kavra::tools::ToolError& e) {
        std::cerr << "kavra-modem: " << e.what() << "\n";
        return 2;
    } catch (const std::exception& e) {
        std::cerr << "kavra-modem: " << e.what() << "\n";
        return 2;
    }
    return 0;
}
