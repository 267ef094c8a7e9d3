# Tavrun's entries in Nautilus's context menu of one local folder and of the background of a
# folder view (nautilus-python). They open the window with the folder in the source box and
# the operation chosen; the run itself starts from the window.
import gi

gi.require_version("Nautilus", "4.0")
from gi.repository import GLib, GObject, Nautilus  # noqa: E402

# (name, operation option, English label, Japanese label)
ACTIONS = (
    ("Tavrun::CompressEach", "--compress",
     "Compress Each File Separately (LZH/ZIP)…", "各ファイルを個別にLZH/ZIPで圧縮…"),
    ("Tavrun::ExtractAll", "--extract",
     "Extract All Archives in the Folder…", "フォルダ内の書庫を一括解凍…"),
)


def japanese():
    """Whether the user's first language is Japanese, as the window's own texts are."""
    names = GLib.get_language_names()
    return bool(names) and names[0].split("_")[0].split(".")[0] == "ja"


def local_folder(info):
    """The path of a local folder, or None for a file, a remote place or anything else."""
    if info is None or not info.is_directory() or info.get_uri_scheme() != "file":
        return None
    location = info.get_location()
    return location.get_path() if location is not None else None


def command(option, folder):
    # "--" keeps a folder whose name starts with a dash from reading as an option.
    return ["tavrun", option, "--", folder]


def launch(_item, argv):
    GLib.spawn_async(argv, flags=GLib.SpawnFlags.SEARCH_PATH)


class TavrunMenuProvider(GObject.GObject, Nautilus.MenuProvider):
    def items_for(self, folder):
        if folder is None:
            return []
        label = 3 if japanese() else 2
        items = []
        for action in ACTIONS:
            item = Nautilus.MenuItem(name=action[0], label=action[label], icon="tavrun")
            item.connect("activate", launch, command(action[1], folder))
            items.append(item)
        return items

    # Nautilus 43 passes the selection alone; earlier versions passed the window first.
    def get_file_items(self, *args):
        files = args[-1]
        return self.items_for(local_folder(files[0])) if len(files) == 1 else []

    def get_background_items(self, *args):
        return self.items_for(local_folder(args[-1]))
