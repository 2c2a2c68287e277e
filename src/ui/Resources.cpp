#include "ui/Resources.h"

const std::string& strAgreementHtml() {
  static const std::string s =
      "<!DOCTYPE html>\n"
      "<html><head><meta charset=\"utf-8\"><title>MPTool End-User Licence Agreement</title></head>\n"
      "<body>\n"
      "<h1>MPTool End-User Licence Agreement</h1>\n"
      "<p>MPTool is provided to production sites for programming and checking USB hubs of the "
      "VLN6420 series. It may be used only on the production lines it was supplied for.</p>\n"
      "<p>The software is provided as is, without warranty of any kind. Programming a hub "
      "rewrites its flash memory; the operator is responsible for choosing the firmware and "
      "settings of a batch.</p>\n"
      "<p>Copying, changing or passing on the software requires the written permission of "
      "its supplier.</p>\n"
      "</body></html>\n";
  return s;
}
