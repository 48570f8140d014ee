// What the user would have seen, one line per event, for automated runs: fields separated by
// tabs, with carriage return, line feed, tab and backslash escaped as \r \n \t \\ (and any other
// control character as \xHH, as the system log escapes its entries) so that every
// event is exactly one line. Each line is written with one write(2) as soon as it happens, so
// a transcript is complete up to the moment the program ends, however it ends.
#pragma once

#include <memory>
#include <string>
#include <vector>

class Transcript {
public:
    // Writes to the descriptor; closes it at destruction when `owned`.
    Transcript(int fd, bool owned);
    ~Transcript();
    Transcript(const Transcript&) = delete;
    Transcript& operator=(const Transcript&) = delete;

    // The file named by SC820_TRANSCRIPT (created or emptied), else standard error. Null when
    // the named file cannot be opened.
    static std::unique_ptr<Transcript> open(std::string* error);

    void writeLine(const std::vector<std::string>& fields);
    static std::string escape(const std::string& field);

private:
    int fd_;
    bool owned_;
};
