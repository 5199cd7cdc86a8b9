// Loads the GNOME Shell 45+ extension (an ES module) as the shell would, with
// stand-ins for the shell's own modules, which exist only inside a running
// GNOME Shell 45 or later. Proves the module parses, that every gi:// import
// resolves against the libraries installed here (GNOME 43's), and that its
// default export is an extension class with enable() and disable(). Whether
// it behaves on GNOME 45 and later is not proven here: only 43 can run.
//
// usage: gjs -m shell_module_check.js EXTENSION_DIR SCRATCH_DIR
import Gio from 'gi://Gio';
import GLib from 'gi://GLib';
import System from 'system';

const [dir, scratch] = System.programArgs;
const read = path => new TextDecoder().decode(GLib.file_get_contents(path)[1]);
const fail = message => {
    printerr(`shell module check: ${message}`);
    System.exit(1);
};

const metadata = JSON.parse(read(`${dir}/metadata.json`));
if (metadata.uuid !== GLib.path_get_basename(dir))
    fail(`uuid ${metadata.uuid} is not the folder's name`);
if (!metadata['shell-version'].includes('45') || metadata['shell-version'].some(v => Number(v) < 45))
    fail(`shell-version ${metadata['shell-version']} is not 45 and later`);

const stubs = {
    'resource:///org/gnome/shell/ui/main.js':
        'export const layoutManager = {}; export const panel = {};',
    'resource:///org/gnome/shell/ui/panelMenu.js':
        "import GObject from 'gi://GObject';\n" +
        'export const Button = GObject.registerClass(class Button extends GObject.Object {});',
    'resource:///org/gnome/shell/extensions/extension.js':
        'export class Extension { constructor(metadata) { this.metadata = metadata; } }',
};
let code = read(`${dir}/extension.js`);
if (/\bimports\./.test(code))
    fail('the module uses imports.*, which ES modules do not have');
GLib.mkdir_with_parents(scratch, 0o755);
let n = 0;
for (const [uri, stub] of Object.entries(stubs)) {
    if (!code.includes(`'${uri}'`))
        fail(`${uri} is not imported`);
    const path = `${scratch}/stub${n++}.js`;
    GLib.file_set_contents(path, stub);
    code = code.replaceAll(`'${uri}'`, `'${Gio.File.new_for_path(path).get_uri()}'`);
}
const module = `${scratch}/extension.js`;
GLib.file_set_contents(module, code);

const { default: Extension } = await import(Gio.File.new_for_path(module).get_uri());
const { Extension: Base } = await import(Gio.File.new_for_path(`${scratch}/stub2.js`).get_uri());
if (typeof Extension !== 'function' || !(Extension.prototype instanceof Base))
    fail('the default export is not an extension class');
for (const method of ['enable', 'disable']) {
    if (typeof Extension.prototype[method] !== 'function')
        fail(`the extension has no ${method}()`);
}
print('shell module check: the GNOME Shell 45+ extension loads');
