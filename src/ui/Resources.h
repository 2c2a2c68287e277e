// Resources the program writes out.
#pragma once

#include <string>

constexpr const char* AGREEMENT_FILE_NAME = "END_USER_LICENCE_AGREEMENT.html";
// The end-user agreement document written beside the program when it is missing.
const std::string& strAgreementHtml();
