"""How a scenario fails: a plain failure with what was expected and what was there, and
a missing tool named with the Debian package that brings it (scripts/bootstrap installs
every one of them)."""


class ScenarioFailure(Exception):
    """Something the scenario expected did not happen; the message says what and shows
    what there was instead."""


class MissingTool(ScenarioFailure):
    def __init__(self, what, package):
        super().__init__(f"{what}: install the Debian package {package} (scripts/bootstrap does)")
        self.package = package
