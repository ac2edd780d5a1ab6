// The AFC file service through the real afc client.
#include "harness.h"

#include <libimobiledevice/afc.h>

using namespace fdtest;

namespace {

struct Afc {
    idevice_t dev = nullptr;
    afc_client_t client = nullptr;
    afc_error_t err = AFC_E_UNKNOWN_ERROR;
    explicit Afc(const std::string& udid) {
        if (idevice_new_with_options(&dev, udid.c_str(), IDEVICE_LOOKUP_USBMUX) !=
            IDEVICE_E_SUCCESS)
            return;
        err = afc_client_start_service(dev, &client, kLabel);
    }
    ~Afc() {
        if (client)
            afc_client_free(client);
        if (dev)
            idevice_free(dev);
    }
    std::vector<std::string> list(const std::string& dir, afc_error_t* e = nullptr) {
        char** names = nullptr;
        afc_error_t r = afc_read_directory(client, dir.c_str(), &names);
        if (e)
            *e = r;
        std::vector<std::string> out;
        for (char** p = names; p && *p; ++p)
            out.push_back(*p);
        if (names)
            afc_dictionary_free(names);
        return out;
    }
    std::map<std::string, std::string> info(const std::string& path, afc_error_t* e) {
        char** kv = nullptr;
        *e = afc_get_file_info(client, path.c_str(), &kv);
        std::map<std::string, std::string> out;
        for (char** p = kv; p && p[0] && p[1]; p += 2)
            out[p[0]] = p[1];
        if (kv)
            afc_dictionary_free(kv);
        return out;
    }
    bool writeFile(const std::string& path, const std::string& data) {
        uint64_t h = 0;
        if (afc_file_open(client, path.c_str(), AFC_FOPEN_WRONLY, &h) != AFC_E_SUCCESS)
            return false;
        uint32_t written = 0;
        bool ok = afc_file_write(client, h, data.data(), static_cast<uint32_t>(data.size()),
                                 &written) == AFC_E_SUCCESS &&
                  written == data.size();
        return afc_file_close(client, h) == AFC_E_SUCCESS && ok;
    }
    bool readFile(const std::string& path, std::string* out) {
        uint64_t h = 0;
        if (afc_file_open(client, path.c_str(), AFC_FOPEN_RDONLY, &h) != AFC_E_SUCCESS)
            return false;
        char buf[1000];
        for (;;) {
            uint32_t n = 0;
            if (afc_file_read(client, h, buf, sizeof buf, &n) != AFC_E_SUCCESS) {
                afc_file_close(client, h);
                return false;
            }
            if (n == 0)
                break;
            out->append(buf, n);
        }
        return afc_file_close(client, h) == AFC_E_SUCCESS;
    }
};

}  // namespace

TEST_F(SimTest, AfcFileTreeRoundTrip) {
    Afc afc(phone->udid());
    ASSERT_EQ(afc.err, AFC_E_SUCCESS);

    ASSERT_EQ(afc_make_directory(afc.client, "/Docs/Sub"), AFC_E_SUCCESS);
    std::string big;
    for (int i = 0; i < 5000; ++i)
        big += static_cast<char>(i * 7);
    ASSERT_TRUE(afc.writeFile("/Docs/Sub/a.bin", big));
    ASSERT_TRUE(afc.writeFile("/Docs/empty.txt", ""));
    std::string back;
    ASSERT_TRUE(afc.readFile("/Docs/Sub/a.bin", &back));
    EXPECT_EQ(back, big);
    std::string stored;
    ASSERT_TRUE(phone->afcGet("/Docs/Sub/a.bin", &stored));
    EXPECT_EQ(stored, big);
    back.clear();
    ASSERT_TRUE(afc.readFile("/Docs/empty.txt", &back));
    EXPECT_TRUE(back.empty());

    auto names = afc.list("/Docs");
    EXPECT_EQ(names, (std::vector<std::string>{".", "..", "Sub", "empty.txt"}));

    afc_error_t e;
    auto info = afc.info("/Docs/Sub/a.bin", &e);
    ASSERT_EQ(e, AFC_E_SUCCESS);
    EXPECT_EQ(info["st_size"], "5000");
    EXPECT_EQ(info["st_ifmt"], "S_IFREG");
    EXPECT_GT(info["st_mtime"].size(), 18u) << "times are in nanoseconds";
    EXPECT_EQ(afc.info("/Docs/Sub", &e)["st_ifmt"], "S_IFDIR");
    afc.info("/Docs/missing", &e);
    EXPECT_EQ(e, AFC_E_OBJECT_NOT_FOUND);
    afc.list("/nowhere", &e);
    EXPECT_EQ(e, AFC_E_OBJECT_NOT_FOUND);
    uint64_t h = 0;
    EXPECT_EQ(afc_file_open(afc.client, "/Docs/missing", AFC_FOPEN_RDONLY, &h),
              AFC_E_OBJECT_NOT_FOUND);
    EXPECT_EQ(afc_file_open(afc.client, "/no/such/dir/f", AFC_FOPEN_WRONLY, &h),
              AFC_E_OBJECT_NOT_FOUND);

    // Seek and tell on a read-write handle.
    ASSERT_EQ(afc_file_open(afc.client, "/Docs/Sub/a.bin", AFC_FOPEN_RW, &h), AFC_E_SUCCESS);
    ASSERT_EQ(afc_file_seek(afc.client, h, 4990, SEEK_SET), AFC_E_SUCCESS);
    uint64_t pos = 0;
    ASSERT_EQ(afc_file_tell(afc.client, h, &pos), AFC_E_SUCCESS);
    EXPECT_EQ(pos, 4990u);
    char buf[100];
    uint32_t n = 0;
    ASSERT_EQ(afc_file_read(afc.client, h, buf, sizeof buf, &n), AFC_E_SUCCESS);
    EXPECT_EQ(n, 10u);
    EXPECT_EQ(afc_file_close(afc.client, h), AFC_E_SUCCESS);

    ASSERT_EQ(afc_rename_path(afc.client, "/Docs/Sub", "/Docs/Moved"), AFC_E_SUCCESS);
    EXPECT_TRUE(phone->afcExists("/Docs/Moved/a.bin"));
    EXPECT_FALSE(phone->afcExists("/Docs/Sub"));
    EXPECT_EQ(afc_remove_path(afc.client, "/Docs/Moved"), AFC_E_DIR_NOT_EMPTY);
    EXPECT_EQ(afc_remove_path_and_contents(afc.client, "/Docs"), AFC_E_SUCCESS);
    EXPECT_FALSE(phone->afcExists("/Docs/Moved/a.bin"));
    EXPECT_EQ(afc.list("/"), (std::vector<std::string>{".", ".."}));
}
