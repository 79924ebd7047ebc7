// The answers of one registration attempt, in the order of the mail text, then the title.
#pragma once

#include <string>

struct RegistrationRecord {
    std::string username;
    std::string password_1;
    std::string password_2;
    std::string aggraccept;
    std::string vipkunde;
    std::string vorname;
    std::string nachname;
    std::string firm;
    std::string addr;
    std::string city;
    std::string zip;
    std::string land;
    std::string tel;
    std::string fax;
    std::string alt;
    std::string berstell;
    std::string lebkindih;
    std::string pctyp;
    std::string betrsystem;
    std::string anwender;
    std::string gprod;
    std::string gprodg;
    std::string wgekauf;
    std::string dgekauf;
    std::string pgekauf;
    std::string kaufoft;
    std::string titel;  // printed, but not part of the mail text
};
