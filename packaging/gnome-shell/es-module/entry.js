export default class VeltMouseAssistantExtension extends Extension {
    enable() {
        this._velt = new VeltShellExtension();
        this._velt.enable();
    }

    disable() {
        this._velt?.disable();
        this._velt = null;
    }
}
