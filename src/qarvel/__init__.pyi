from . import mills as mills, relmeans as relmeans, symdiff as symdiff, ufuncs as ufuncs

__version__: str
__all__: list[str]

def get_include() -> str: ...
