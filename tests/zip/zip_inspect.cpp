#include "zip_inspect.h"

#include <zip.h>

#include <sstream>

#include "zip_test_util.h"

namespace ziptest {

bool PyInspect(const std::string& zip, std::map<std::string, PyMember>& members,
               std::string& testzip) {
  static const char* script = R"(import sys, zipfile
z = zipfile.ZipFile(sys.argv[1])
print('T', z.testzip())
for i in z.infolist():
    d = '%04d-%02d-%02d %02d:%02d:%02d' % i.date_time
    print('M', i.filename.encode('utf-8').hex(), i.flag_bits, i.compress_type, d.replace(' ', '_'),
          i.extra.hex() or '-', i.external_attr, i.file_size, i.compress_size)
)";
  std::string out;
  if (Python(script, {zip}, &out) != 0) {
    testzip = out;
    return false;
  }
  std::istringstream in(out);
  std::string tag;
  members.clear();
  while (in >> tag) {
    if (tag == "T") {
      in >> testzip;
      continue;
    }
    PyMember m;
    std::string hexName;
    in >> hexName >> m.flagBits >> m.method >> m.dateTime >> m.extraHex >> m.externalAttr >>
        m.size >> m.compSize;
    for (size_t i = 0; i + 1 < hexName.size(); i += 2)
      m.name += char(std::stoi(hexName.substr(i, 2), nullptr, 16));
    if (m.extraHex == "-") m.extraHex.clear();
    members[m.name] = m;
  }
  return true;
}

std::string RawMember(const std::string& zip, const std::string& name) {
  int err = 0;
  zip_t* za = zip_open(zip.c_str(), ZIP_RDONLY, &err);
  if (za == nullptr) return {};
  std::string data;
  if (zip_file_t* f = zip_fopen(za, name.c_str(), ZIP_FL_COMPRESSED)) {
    char buf[65536];
    zip_int64_t n;
    while ((n = zip_fread(f, buf, sizeof buf)) > 0) data.append(buf, size_t(n));
    zip_fclose(f);
  }
  zip_discard(za);
  return data;
}

int MemberCount(const std::string& zip) {
  int err = 0;
  zip_t* za = zip_open(zip.c_str(), ZIP_RDONLY, &err);
  if (za == nullptr) return -1;
  int n = int(zip_get_num_entries(za, 0));
  zip_discard(za);
  return n;
}

}  // namespace ziptest
