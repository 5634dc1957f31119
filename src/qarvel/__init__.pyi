from . import mills as mills, relmeans as relmeans, symdiff as symdiff

__version__: str
__all__: list[str]

def get_include() -> str: ...
