// Work directories as users have them: names in any script, deep paths,
// links that lead nowhere or in circles, folders named like rasters.
#include <sys/stat.h>

#include "catalogue/neighbours.h"
#include "catalogue/coords_file.h"
#include "catalogue/scan.h"
#include "catalogue/surroundings.h"
#include "hardening/corpus.h"
#include "terrain/raster.h"

namespace {

using corpus::ExitCodeOf;
using corpus::kNoExit;
using corpus::Tried;

uint32_t Ramp(int x, int y) { return static_cast<uint32_t>(1000 + x + 2 * y); }
float RampF(int x, int y) { return 1000.5f + static_cast<float>(x + 2 * y); }

class FolderTest : public StateTest {
 protected:
  void UseExt(const std::string& ext) {
    st.cu_ext = ext == ".tif" ? 1 : 0;
    st.admext = ext;
  }
  void WriteSector(const fs::path& folder, const std::string& name, const std::string& ext, int size = 120) {
    if (ext == ".tif")
      WriteTiffFloat(folder / (name + ext), size, size, RampF);
    else
      WritePngRgb(folder / (name + ext), size, size, Ramp);
  }
  // Writes sectors 0101 and 0102 and a coordinates file into `folder`,
  // scans it and loads 0101 with its northern neighbour.
  void ScanAndLoad(const fs::path& folder, const std::string& ext) {
    UseExt(ext);
    WriteSector(folder, "0101", ext);
    WriteSector(folder, "0102", ext);
    ASSERT_TRUE(WriteCoordinatesFile((folder / kCoordinatesFile).string(), -3.25, 37.125));
    st.szDirPath = folder.string();
    ASSERT_EQ(listdirect(st.szDirPath, ext), 1);
    EXPECT_EQ(plat.ListCount(), 2);
    EXPECT_EQ(st.geoxi, -3.25);
    matriz_entorno("0101" + ext);
    testing::internal::CaptureStdout();
    const int code = ExitCodeOf([&] { Inicia_BuildEntorno(st.szDirPath + "/0101" + ext); });
    testing::internal::GetCapturedStdout();
    ASSERT_EQ(code, kNoExit);
    EXPECT_EQ(st.matflgarea[5], 1);
    EXPECT_EQ(HeightOfPixel(st.sfdata.get(), st.sfdata_tif.get(), 119, 119), ext == ".tif" ? RampF(119, 119) : 1357.0f);
    EXPECT_TRUE(plat.boxes().empty());
    EXPECT_TRUE(plat.console().empty());
    CleanSurfaces();
    ReleaseCounters();
  }
  TempDir dir;
};

// Names in any script, with spaces and bytes that are not UTF-8, and paths
// longer than old limits, each for PNG and TIFF projects.
TEST_F(FolderTest, NamesInAnyScriptAndLongPaths) {
  std::vector<fs::path> folders;
  for (const char* n : {"Mapas de radiación solar – Añón (versión 2)", "山の地形 データ", "  leading and trailing spaces  ",
                        "quote's \"double\" $HOME %s %n \\ back", "bytes that are not UTF-8 \xff\xfe\x80"})
    folders.push_back(dir / n / "sub dir ñ");
  for (size_t target : {size_t{261}, size_t{3900}}) {
    folders.push_back(dir / "long");
    while (folders.back().string().size() < target) folders.back() /= std::string(200, 'd');
  }
  for (const fs::path& folder : folders) {
    for (const char* ext : {".png", ".tif"}) {
      SCOPED_TRACE(folder.string().substr(0, 300) + ext);
      Tried();
      fs::create_directories(folder);
      ScanAndLoad(folder, ext);
      fs::remove_all(folder);
    }
  }
  // Longer than the system accepts: nothing found, nothing changed.
  Tried();
  std::string too_long = dir.str();
  while (too_long.size() < 5000) too_long += "/.";
  st.proj_w = 150;
  EXPECT_EQ(listdirect(too_long, ".png"), 0);
  EXPECT_EQ(st.proj_w, 150);
}

// Links in circles and folders with raster names. Directories, also when
// reached through a link, are skipped without a word; an entry that can't
// be followed is a file that can't be read: for a TIFF project a box and the
// scan goes on, for a PNG project the load message ends the program.
TEST_F(FolderTest, LinkLoopsAndFoldersNamedLikeRasters) {
  WriteSector(dir.path(), "0102", ".png", 130);
  WriteSector(dir.path(), "0102", ".tif", 130);
  fs::create_directory(dir / "0101.png");
  fs::create_directory(dir / "0101.tif");
  fs::create_directory_symlink(".", dir / "0103.png");   // the folder itself
  fs::create_directory_symlink("..", dir / "0103.tif");  // its parent
  fs::create_directory_symlink(".", dir / "loop.png");
  fs::create_symlink(kCoordinatesFile, dir / kCoordinatesFile);  // not read, not fatal
  Tried(6);
  st.val_long = 2;
  EXPECT_EQ(listdirect(dir.str(), ".png"), 1);
  EXPECT_EQ(plat.list(), std::vector<std::string>{"0102.png"});
  EXPECT_EQ(st.val_long, 2);
  EXPECT_TRUE(plat.console().empty());

  // Chains that never end, and a link to nowhere.
  fs::create_symlink("0105.tif", dir / "0104.tif");
  fs::create_symlink("0104.tif", dir / "0105.tif");
  fs::create_symlink("0106.tif", dir / "0106.tif");
  fs::create_symlink("absent.tif", dir / "0107.tif");
  Tried(4);
  UseExt(".tif");
  EXPECT_EQ(listdirect(dir.str(), ".tif"), 1);
  EXPECT_EQ(plat.list(), std::vector<std::string>{"0102.tif"});
  EXPECT_EQ(plat.boxes().size(), 4u);
  for (const auto& b : plat.boxes()) EXPECT_EQ(b.text, "Fatal Error. TIF error loading image");

  UseExt(".png");
  Tried();
  fs::create_symlink("0104.png", dir / "0104.png");
  EXPECT_EQ(ExitCodeOf([&] { listdirect(dir.str(), ".png"); }), 1);
  EXPECT_EQ(plat.boxes().back().text.rfind("Fatal Error Loading Data.", 0), 0u);
}

// Special files named like rasters, or like the coordinates file, must not
// hang the scan: opening a pipe nobody writes to waits for ever. The scan
// runs in a child process so that a regression fails instead of hanging.
TEST_F(FolderTest, PipeNamedLikeARasterDoesNotHang) {
  for (const char* name : {"0101.tif", "0101.png", kCoordinatesFile}) {
    SCOPED_TRACE(name);
    Tried();
    TempDir folder;
    ASSERT_EQ(mkfifo((folder / name).c_str(), 0600), 0);
    const std::string ext = std::string(name) == "0101.tif" ? ".tif" : ".png";
    WriteSector(folder.path(), "0102", ext);
    EXPECT_TRUE(corpus::EndsWithin(5, [&] {
      UseExt(ext);
      listdirect(folder.str(), ext);
    })) << "the scan still waits on the pipe after 5 s";
  }
}

}  // namespace
